// The accounting system's side through tsr-tool: a request written by
// `tsr-tool request` is deciphered and read by the client as the folder
// pass does it, and answers the writer saved are read back by
// `tsr-tool answers`.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/text.h"
#include "crypto/exchange_cipher.h"
#include "folder/answer_document.h"
#include "folder/answer_file.h"
#include "folder/request_file.h"
#include "test_support.h"

namespace {

const std::string kIks = "19215E7F672CD00EE122AC2BB71547DDA1B2C3D4";
const std::string kNumber = "190000002000000011202610007";

// The last line the tool printed (the cipher prints a line of its own
// before it).
std::string LastLine(const std::string& output) {
  std::string text = output.substr(0, output.find_last_not_of('\n') + 1);
  return text.substr(text.rfind('\n') + 1);
}

TEST(ToolRoundTrip, RequestFromTheToolIsReadByTheClient) {
  test_support::ScopedLogFolder log;
  test_support::TempFolder folder;
  test_support::WriteBytes(folder.path + "doc", {0xD0, 0x94, 0x00, 0xFF});
  test_support::WriteText(folder.path + "cert1", "first");
  test_support::WriteText(folder.path + "cert2", "second");
  test_support::WriteText(folder.path + "key2", "key");
  test_support::ToolRun run = test_support::RunTool(
      "request " + folder.path + " --iks " + kIks + " --type SignFirst --number " + kNumber + " --message-file " +
      folder.path + "doc --cpk " + folder.path + "cert1 --cpk " + folder.path + "cert2," + folder.path +
      "key2 --receiverunp 190000003 --receiverbranch 7 --expire 30 --confirmdelivery --as r1.xml");
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_EQ(LastLine(run.output), folder.path + "out/r1.xml");
  EXPECT_EQ(test_support::ListTree(folder.path + "out/"), std::vector<std::string>{"r1.xml"});

  // Claimed and deciphered as the folder pass does it, then read.
  std::vector<uint8_t> key = core::HexDecode(kIks);
  ASSERT_EQ(crypto::Decode(folder.path + "out/r1.xml", key.data()), 0);
  folder::FolderRequest request;
  folder::GetXMLTypes(folder.path + "out/", "r1.xml", &request);
  EXPECT_EQ(request.type, 50);
  EXPECT_EQ(request.senderIks, kIks);
  EXPECT_EQ(request.number, kNumber);
  EXPECT_EQ(core::Base64Decode(request.message), (std::vector<uint8_t>{0xD0, 0x94, 0x00, 0xFF}));
  EXPECT_EQ(request.receiverUnp, "190000003");
  EXPECT_EQ(request.receiverBranch, "7");
  EXPECT_EQ(request.expire, "30");
  EXPECT_TRUE(request.confirmDelivery);
  ASSERT_EQ(request.recipients.size(), 2u);
  EXPECT_EQ(request.recipients[0].certificate, core::Base64Encode(reinterpret_cast<const uint8_t*>("first"), 5));
  EXPECT_EQ(request.recipients[0].publicKey, "");
  EXPECT_EQ(request.recipients[1].publicKey, core::Base64Encode(reinterpret_cast<const uint8_t*>("key"), 3));
  EXPECT_EQ(request.faults, 0);

  // Wrong arguments write nothing.
  EXPECT_EQ(test_support::RunTool("request " + folder.path + " --iks " + kIks + " --type signeverything").exitCode, 2);
  EXPECT_EQ(test_support::RunTool("request " + folder.path + " --iks 1234 --type getlist").exitCode, 2);
  EXPECT_EQ(test_support::ListTree(folder.path + "out/"), std::vector<std::string>{"r1.xml"});
}

TEST(ToolRoundTrip, AnswersFromTheWriterAreReadByTheTool) {
  test_support::ScopedLogFolder log;
  test_support::TempFolder folder;
  ASSERT_EQ(folder::WriteErrorAnswer(folder.path, kIks, L"Нет прав на отправку файлов", kNumber, 5), 0);
  folder::XMLCreate();
  folder::XMLOpen(L"root");
  folder::XMLElement(L"type", L"thestatus");
  folder::XMLElement(L"number", L"1");
  folder::XMLElement(L"Status", L"sent");
  folder::XMLElement(L"message", L"Отправлено");
  ASSERT_EQ(folder::XMLSave(folder.path, kIks), 0);

  test_support::ToolRun run = test_support::RunTool("answers " + folder.path + " --iks " + kIks.substr(0, 32));
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_NE(run.output.find("\n1.xml: type=thestatus Status=sent number=1\n"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("\nerror_" + kNumber + ".xml: number=" + kNumber + " refer=error_" + kNumber +
                            " error=Нет прав на отправку файлов errorcode=5 errorinfo=Нет прав на операцию\n"),
            std::string::npos)
      << run.output;
  run = test_support::RunTool("answers " + folder.path + " --iks " + kIks + " --xml");
  ASSERT_EQ(run.exitCode, 0);
  EXPECT_NE(run.output.find("== 1.xml\n<?xml version=\"1.0\" encoding=\"UTF-8\"?><root><type>thestatus</type>"
                            "<number>1</number><Status>sent</Status><message>Отправлено</message></root>\n"),
            std::string::npos)
      << run.output;
}

}  // namespace
