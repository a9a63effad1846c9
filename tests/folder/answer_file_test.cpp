// The answer writer: canned answers in, the exact deciphered bytes out; the
// name rules (refer/number, the time stamp, no replacing, nothing outside
// in/), large answers, and a failed write that leaves no file behind.
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <regex>
#include <string>
#include <vector>

#include "core/text.h"
#include "crypto/exchange_cipher.h"
#include "folder/answer_document.h"
#include "folder/answer_file.h"
#include "platform/fault_injection.h"
#include "platform/file.h"
#include "test_support.h"

namespace {

const std::string kIks = "19215E7F672CD00EE122AC2BB71547DDA1B2C3D4";

std::string Deciphered(const std::string& path) {
  std::vector<uint8_t> data = test_support::ReadBytes(path);
  std::vector<uint8_t> key = core::HexDecode(kIks.substr(0, 32));
  std::array<uint8_t, crypto::kKeyMaterialSize> material = crypto::KeyMaterial(key.data());
  crypto::KeyMaterialHash hash;
  EXPECT_EQ(crypto::HashKeyMaterial(material.data(), &hash), 0u);
  EXPECT_TRUE(crypto::DecryptBuffer(&hash, &data));
  return std::string(data.begin(), data.end());
}

const std::string kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

class AnswerFileTest : public testing::Test {
 protected:
  test_support::ScopedLogFolder log;
  test_support::TempFolder exchange;
  std::string In() const { return exchange.path + "in/"; }
};

TEST_F(AnswerFileTest, WritesTheDocumentAsEncipheredUtf8) {
  struct Case {
    const char* what;
    void (*write)(const std::string& folder);
    std::string name;  // regular expression of the file name in in/
    std::string text;  // after the declaration
  } cases[] = {
      {"status answer, open elements closed by the save, value with '<' unchanged",
       [](const std::string& folder) {
         folder::XMLCreate();
         folder::XMLOpen(L"root");
         folder::XMLElement(L"type", L"thestatus");
         folder::XMLElement(L"number", L"190000002000000011202610007");
         folder::XMLElement(L"message", L"Отправлено <a&b>");
         EXPECT_EQ(folder::XMLSave(folder, kIks), 0);
       },
       "190000002000000011202610007\\.xml",
       "<root><type>thestatus</type><number>190000002000000011202610007</number>"
       "<message>Отправлено <a&b></message></root>"},
      {"error answer with number and code 101",
       [](const std::string& folder) {
         EXPECT_EQ(folder::WriteErrorAnswer(folder, kIks, L"Ошибка при получении сообщения", "7", 101), 0);
       },
       "error_7\\.xml",
       "<root><number>7</number><refer>error_7</refer><error>Ошибка при получении сообщения</error>"
       "<errorcode>101</errorcode><errorinfo>Нет ожидающих сообщений в АИС</errorinfo></root>"},
      {"error answer without number, code 16 has no text",
       [](const std::string& folder) { EXPECT_EQ(folder::WriteErrorAnswer(folder, kIks, L"E", "", 16), 0); },
       "error_\\d{6}_\\d{3}\\.xml", "<root><refer>error_\\d{6}_\\d{3}</refer><error>E</error><errorcode>16</errorcode>"
                                  "<errorinfo></errorinfo></root>"},
  };
  for (const Case& c : cases) {
    test_support::TempFolder folder;
    c.write(folder.path);
    std::vector<std::string> files = test_support::ListTree(folder.path + "in/");
    ASSERT_EQ(files.size(), 1u) << c.what;
    EXPECT_TRUE(std::regex_match(files[0], std::regex(c.name))) << c.what << ": " << files[0];
    std::string text = Deciphered(folder.path + "in/" + files[0]);
    EXPECT_NE(test_support::ReadText(folder.path + "in/" + files[0]), text) << c.what;
    ASSERT_EQ(text.compare(0, kDeclaration.size(), kDeclaration), 0) << c.what;
    EXPECT_TRUE(std::regex_match(text.substr(kDeclaration.size()), std::regex(c.text))) << c.what << ": " << text;
  }
}

TEST_F(AnswerFileTest, NeverReplacesAnAnswerNorWritesOutsideIn) {
  // in/ and out/ are made when missing.
  folder::XMLCreate();
  folder::XMLOpen(L"root");
  folder::XMLElement(L"refer", L"abc");
  ASSERT_EQ(folder::XMLSave(exchange.path, kIks), 0);
  EXPECT_TRUE(platform::FolderExists(exchange.path + "out/"));
  // A name that waits for the accounting system, in any case, is kept.
  test_support::WriteText(In() + "ABC_1.XML", "not yet taken");
  for (int i = 0; i < 2; ++i) {
    folder::XMLCreate();
    folder::XMLElement(L"refer", L"abc");
    ASSERT_EQ(folder::XMLSave(exchange.path, kIks), 0);
  }
  EXPECT_EQ(test_support::ReadText(In() + "ABC_1.XML"), "not yet taken");
  EXPECT_EQ(test_support::ListTree(In()), (std::vector<std::string>{"ABC_1.XML", "abc.xml", "abc_2.xml", "abc_3.xml"}));

  // A refer that would leave in/ gives way to the time stamp.
  for (const wchar_t* refer : {L"../evil", L"a/b", L"a\\b", L"c:x", L"..", L""}) {
    folder::XMLCreate();
    folder::XMLElement(L"number", L"ignored");
    folder::XMLElement(L"refer", refer);
    ASSERT_EQ(folder::XMLSave(exchange.path + "in/", kIks), 0);
  }
  std::vector<std::string> inner = test_support::ListTree(In() + "in/");
  ASSERT_EQ(inner.size(), 6u);
  for (const std::string& name : inner) {
    EXPECT_TRUE(std::regex_match(name, std::regex("\\d{6}_\\d{3}(_\\d)?\\.xml"))) << name;
  }
  // Nothing else anywhere: the four answers above, these six, and the
  // folders in/, out/, in/in/, in/out/.
  EXPECT_EQ(test_support::ListTree(exchange.path).size(), 4u + 6u + 4u);

  // Without refer or number there is no name: nothing is written.
  folder::XMLCreate();
  folder::XMLElement(L"error", L"x");
  EXPECT_EQ(folder::XMLSave(exchange.path, kIks), -1);
}

TEST_F(AnswerFileTest, LargeAnswerIsWrittenWhole) {
  std::wstring message(1'100'000, L'Q');
  folder::XMLCreate();
  folder::XMLOpen(L"root");
  folder::XMLElement(L"refer", L"big");
  folder::XMLElement(L"message", message);
  ASSERT_EQ(folder::XMLSave(exchange.path, kIks), 0);
  EXPECT_EQ(Deciphered(In() + "big.xml"),
            kDeclaration + "<root><refer>big</refer><message>" + std::string(message.size(), 'Q') + "</message></root>");
}

TEST_F(AnswerFileTest, FailedWriteLeavesNoFileAndSaysSo) {
  folder::XMLCreate();
  folder::XMLElement(L"refer", L"lost");
  platform::InjectFault(platform::Syscall::Write, ENOSPC);
  int result = folder::XMLSave(exchange.path, kIks);
  platform::ClearFaults();
  EXPECT_EQ(result, -1);
  EXPECT_TRUE(test_support::ListTree(In()).empty());

  // The answer is written under a temporary name and renamed into place;
  // a rename that fails loses the temporary file too.
  folder::XMLCreate();
  folder::XMLElement(L"refer", L"lost");
  platform::InjectFault(platform::Syscall::Rename, EACCES, -1, In() + "lost.xml.tmp");
  result = folder::XMLSave(exchange.path, kIks);
  platform::ClearFaults();
  EXPECT_EQ(result, -1);
  EXPECT_TRUE(test_support::ListTree(In()).empty());
}

}  // namespace
