// The folder pass in-process against the simulator: the claim of out/, and
// requests that must neither be lost nor answered twice when a file cannot
// be read, deleted or answered.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "core/folders.h"
#include "core/text.h"
#include "crypto/cms.h"
#include "crypto/exchange_cipher.h"
#include "exchange_fixture.h"
#include "exchange/session.h"
#include "folder/pass.h"
#include "folder/request_file.h"
#include "platform/fault_injection.h"
#include "storage/settings.h"

namespace exchange_test {
namespace {

namespace fs = std::filesystem;

class FolderPassTest : public ExchangeTest {
 protected:
  void SetUp() override {
    ExchangeTest::SetUp();
    folder::ResetPassStateForTest();
    fs::create_directories(core::WorkingFolder() + "day");
    core::SetWorkingDayFolder(core::WorkingFolder() + "day/");
    ASSERT_TRUE(folder::PassContext(exchange.path, &context));
  }
  void TearDown() override {
    folder::ResetPassStateForTest();
    ExchangeTest::TearDown();
  }

  // The exchange files' cipher is its own inverse.
  std::string Cipher(std::string text) const {
    std::vector<uint8_t> key = core::HexDecode(beta.iksHex.substr(0, 32));
    crypto::KeyMaterialHash hash;
    EXPECT_EQ(crypto::HashKeyMaterial(crypto::KeyMaterial(key.data()).data(), &hash), 0u);
    std::vector<uint8_t> data(text.begin(), text.end());
    EXPECT_TRUE(crypto::EncryptBuffer(&hash, &data));
    return std::string(data.begin(), data.end());
  }

  // A request of beta's, deciphered as the claim leaves it.
  std::string RequestText(const std::string& type, const std::string& fields) const {
    return "<root><type>" + type + "</type><senderiks>" + beta.iksHex + "</senderiks>" + fields + "</root>";
  }
  void Waiting(const std::string& name, const std::string& text) const {
    test_support::WriteText(core::WorkingFolder() + name, text);
  }

  // The request files waiting in the working folder.
  std::vector<std::string> Requests() const {
    std::vector<std::string> names;
    for (const std::string& name : test_support::ListTree(core::WorkingFolder())) {
      if (name.find('/') == std::string::npos) names.push_back(name);
    }
    return names;
  }

  // The `error` (or, without one, the `ID`) of every answer in in/; the
  // whole texts in *texts when given.
  std::multiset<std::string> Answers(std::vector<std::string>* texts = nullptr) const {
    std::multiset<std::string> found;
    for (const std::string& name : test_support::ListTree(exchange.path + "in/")) {
      std::string text = Cipher(test_support::ReadText(exchange.path + "in/" + name));
      found.insert(core::FindTag(text, "error").value_or("ID " + core::FindTag(text, "ID").value_or("?")));
      if (texts != nullptr) texts->push_back(text);
    }
    return found;
  }

  test_support::TempFolder exchange;
  folder::FolderPassContext context;
};

TEST_F(FolderPassTest, TheClaimTakesOnlyFilesWhoseSizeHeldAndNeverReplacesAWaitingRequest) {
  const std::string request = RequestText("getlist", "");
  const std::string out = exchange.path + "out/";
  EXPECT_EQ(folder::MoveFilesToWorking(context), 0);
  ASSERT_TRUE(fs::is_directory(out));
  test_support::WriteText(out + "r.xml", Cipher(request).substr(0, 20));  // still being written
  EXPECT_EQ(folder::MoveFilesToWorking(context), 0);
  test_support::WriteText(out + "r.xml", Cipher(request));
  EXPECT_EQ(folder::MoveFilesToWorking(context), 0) << "grown since the last tick";
  EXPECT_EQ(folder::MoveFilesToWorking(context), 1);
  EXPECT_EQ(test_support::ReadText(core::WorkingFolder() + "r.xml"), request);
  EXPECT_EQ(test_support::ReadText(core::WorkingDayFolder() + "r.xml"), request);

  // Another r.xml while the first still waits.
  const std::string second = RequestText("getmessage", "<message>7</message>");
  test_support::WriteText(out + "r.xml", Cipher(second));
  EXPECT_EQ(folder::MoveFilesToWorking(context) + folder::MoveFilesToWorking(context), 1);
  EXPECT_EQ(test_support::ReadText(core::WorkingFolder() + "r.xml"), request);
  EXPECT_EQ(test_support::ReadText(core::WorkingFolder() + "r_1.xml"), second);
  EXPECT_EQ(test_support::ReadText(core::WorkingDayFolder() + "r_1.xml"), second);
  EXPECT_TRUE(test_support::ListTree(out).empty());

  // The first done, a third r.xml the same day replaces its day's copy;
  // where the volume keeps no second names the text is copied instead.
  for (int error : {0, EPERM}) {
    SCOPED_TRACE(error);
    ASSERT_TRUE(fs::remove(core::WorkingFolder() + "r.xml"));
    if (error != 0) platform::InjectFault(platform::Syscall::Link, error);
    const std::string third = RequestText("getlist", "<number>" + std::to_string(error) + "</number>");
    test_support::WriteText(out + "r.xml", Cipher(third));
    EXPECT_EQ(folder::MoveFilesToWorking(context) + folder::MoveFilesToWorking(context), 1);
    platform::ClearFaults();
    EXPECT_EQ(test_support::ReadText(core::WorkingFolder() + "r.xml"), third);
    EXPECT_EQ(test_support::ReadText(core::WorkingDayFolder() + "r.xml"), third);
    EXPECT_EQ(test_support::ReadText(core::WorkingDayFolder() + "r_1.xml"), second);
  }
}

TEST_F(FolderPassTest, UnreadableMalformedUntypedAndUndeletableRequestsAreAnsweredOnceWithoutEndingThePass) {
  StartSim();
  Waiting("a.xml", RequestText("getlist", ""));
  Waiting("b.xml", RequestText("getmessage", "<message>1</message><number>19000000</number>"));
  Waiting("c.xml", RequestText("deletemessage", "<message>999</message>"));
  Waiting("d.xml", RequestText("getmessage", "<message>998</message>"));
  Waiting("e.xml", RequestText("edocwithsign", ""));  // a type of answers only
  // A signed document whose request cannot be deleted is not signed and
  // answered again.
  Waiting("f.xml", RequestText("signsingle", "<number>190000002000000011202610007</number><message>QQ==</message>"));
  platform::InjectFault(platform::Syscall::Open, EACCES, -1, core::WorkingFolder() + "a.xml");
  platform::InjectFault(platform::Syscall::Delete, EACCES, -1, core::WorkingFolder() + "d.xml");
  platform::InjectFault(platform::Syscall::Delete, EACCES, -1, core::WorkingFolder() + "f.xml");
  const std::multiset<std::string> expected{"Файл запроса не прочитан: a.xml",
                                            "Ошибка разбора файла. Неправильный номер в сообщении",
                                            "Ошибка при удалении сообщения 999", "Ошибка при получении сообщения",
                                            "Неверный тип запроса", "ID ?"};
  folder::ProcessFile(exchange.path);
  EXPECT_EQ(Answers(), expected);
  // Answered, they are marked so before their answers are named; the
  // markers stay while they cannot be deleted.
  EXPECT_EQ(Requests(), (std::vector<std::string>{"d.xml.answered", "f.xml.answered"}));
  folder::ResetPassStateForTest();  // a restart of the client
  folder::ProcessFile(exchange.path);
  EXPECT_EQ(Answers(), expected) << "a request once finished is not run again, not even after a restart";
  platform::ClearFaults();
  folder::ProcessFile(exchange.path);
  EXPECT_TRUE(Requests().empty());
  EXPECT_EQ(Answers(), expected);
}

TEST_F(FolderPassTest, AnAnswerStagedWhenTheRunEndedIsNamedOnceAndWhatTheRunLeftIsCleared) {
  StartSim();
  Waiting("s.xml", RequestText("signsingle", "<number>190000002000000011202610008</number><message>QQ==</message>"));
  // The run ends (here: the rename fails) after the request was marked
  // answered and before its answer got its name.
  platform::InjectFault(platform::Syscall::Rename, EACCES, -1, exchange.path + "in/");
  folder::ProcessFile(exchange.path);
  EXPECT_EQ(test_support::ListTree(exchange.path + "in/"), (std::vector<std::string>{"s.xml.answer.tmp"}));
  EXPECT_EQ(Requests(), (std::vector<std::string>{"s.xml.answered"}));
  // What other steps cut short leave behind.
  Waiting("c.xml.tmp", "half a claim");
  Waiting("gone.xml.sending", "a prepared send of a finished request");
  Waiting("gone.xml.accepted", "a kept answer of a finished request");
  test_support::WriteText(exchange.path + "in/half.xml.tmp", "half an answer");
  test_support::WriteText(exchange.path + "in/t.xml.answer.tmp", "an answer staged before its request was marked");
  platform::ClearFaults();
  folder::ResetPassStateForTest();
  folder::ProcessFile(exchange.path);
  EXPECT_EQ(test_support::ListTree(exchange.path + "in/"),
            (std::vector<std::string>{"190000002000000011202610008_eDocWithSign.xml"}));
  EXPECT_TRUE(Requests().empty());
}

TEST_F(FolderPassTest, ARequestWithoutAnswerOrWhoseAnswerCannotBeSavedWaitsForTheNextPass) {
  StartSim();
  json sent = Inject(json{{"from", "alpha"}, {"to", "beta"}, {"type", 52}, {"content", "<html>Счёт</html>"}});
  const std::string idm = std::to_string(sent["idm"].get<int>());
  Waiting("g.xml", RequestText("getmessage", "<message>" + idm + "</message>"));
  // The server drops the connection instead of answering.
  ArmFault(json{{"action", "drop"}, {"type", 41}});
  folder::ProcessFile(exchange.path);
  EXPECT_EQ(Requests(), (std::vector<std::string>{"g.xml"}));
  Waiting("h.xml", RequestText("deletemessage", "<message>999</message>"));
  Waiting("l.xml", RequestText("getlist", ""));
  platform::InjectFault(platform::Syscall::Open, ENOSPC, -1, exchange.path + "in/");
  folder::ProcessFile(exchange.path);
  EXPECT_TRUE(Answers().empty());
  EXPECT_EQ(Requests(), (std::vector<std::string>{"g.xml", "h.xml", "l.xml"}));
  platform::ClearFaults();
  folder::ProcessFile(exchange.path);
  EXPECT_EQ(Answers(), (std::multiset<std::string>{"ID " + idm, "ID " + idm, "Ошибка при удалении сообщения 999"}));
  EXPECT_TRUE(Requests().empty());
}

TEST_F(FolderPassTest, ADocumentWhoseSignatureFailsIsAnsweredRefusedAndTheRefusalAnswered) {
  StartSim();
  const std::string text = "<html>Акт № 11</html>";
  const Bytes content(text.begin(), text.end());
  crypto::DataBlock signedDocument;
  ASSERT_EQ(crypto::SignMessage(crypto::MakeBlock(content), alpha.iks, &signedDocument, true), 0u);
  Bytes damaged = crypto::BlockBytes(signedDocument);
  auto at = std::search(damaged.begin(), damaged.end(), content.begin(), content.end());
  ASSERT_NE(at, damaged.end());
  at[7] ^= 0x01;
  crypto::DataBlock envelope;
  ASSERT_TRUE(crypto::CryptMessage(crypto::MakeBlock(damaged), {{core::Base64Encode(beta.certificate), ""}}, &envelope));
  json sent = Inject(json{{"from", "alpha"}, {"to", "beta"}, {"type", 52}, {"confirm", true}, {"raw", true},
                          {"contentBase64", core::Base64Encode(crypto::BlockBytes(envelope))}});
  Waiting("m.xml", RequestText("getmessage", "<message>" + std::to_string(sent["idm"].get<int>()) + "</message>"));
  folder::ProcessFile(exchange.path);
  std::vector<std::string> texts;
  Answers(&texts);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_THAT(texts, ::testing::Contains(::testing::HasSubstr("<type>edocwithsign</type><ID>")));
  EXPECT_THAT(texts, ::testing::Contains(::testing::HasSubstr("<VerifySign>false</VerifySign>")));
  EXPECT_THAT(texts, ::testing::Contains(::testing::HasSubstr(
                         "<type>thestatus</type><number>" + sent["number"].get<std::string>() +
                         "</number><Status>rejectionconfirmed</Status><message>Отправлено</message>")));
  json refusals = Mailbox("alpha", true);
  ASSERT_EQ(refusals.size(), 1u) << "a refusal and no confirmation";
  EXPECT_EQ(refusals[0]["family"], 56);
  EXPECT_EQ(Base64Field(refusals[0]["payload"])[0], 114);
}

TEST_F(FolderPassTest, ADocumentOurKeyCannotOpenWaitsOnTheServerWithItsRequests) {
  StartSim();
  json sent = Inject(json{{"from", "alpha"}, {"to", "beta"}, {"type", 52}, {"content", "<html>Договор</html>"}});
  const std::string idm = std::to_string(sent["idm"].get<int>());
  ASSERT_TRUE(exchange::CTS(nullptr));
  // The PIN no longer opens the key: no fault of the sender's, nothing refused.
  storage::SetSettingText("IDC_PASS", L"87654321");
  Waiting("g.xml", RequestText("getmessage", "<message>" + idm + "</message>"));
  Waiting("l.xml", RequestText("getlist", ""));
  // The handlers as the dispatcher runs them, in a session opened before.
  folder::FolderRequest one, list;
  folder::GetXMLTypes(core::WorkingFolder(), "g.xml", &one);
  folder::GetXMLTypes(core::WorkingFolder(), "l.xml", &list);
  folder::GetOneMessage(context, one);
  folder::GetList(context, list);
  fs::create_directories(exchange.path + "in");
  EXPECT_TRUE(Answers().empty());
  EXPECT_EQ(Requests(), (std::vector<std::string>{"g.xml", "l.xml"}));
  EXPECT_TRUE(Mailbox("alpha").empty()) << "no refusal went to the sender";
  EXPECT_EQ(Mailbox("beta").size(), 1u);
  storage::SetSettingText("IDC_PASS", L"12345678");
  folder::ProcessFile(exchange.path);
  EXPECT_EQ(Answers(), (std::multiset<std::string>{"ID " + idm, "ID " + idm}));
  EXPECT_TRUE(Requests().empty());
}

TEST_F(FolderPassTest, ARequestLockedInOutWaitsThereWithoutHoldingUpTheOthers) {
  StartSim();
  const std::string out = exchange.path + "out/";
  fs::create_directories(out);
  for (const char* idm : {"997", "998", "999"}) {
    test_support::WriteText(out + idm + ".xml",
                            Cipher(RequestText("deletemessage", std::string("<message>") + idm + "</message>")));
  }
  platform::InjectFault(platform::Syscall::Open, EACCES, -1, out + "998.xml");
  folder::ProcessFile(exchange.path);  // the sizes are noted
  folder::ProcessFile(exchange.path);
  EXPECT_EQ(Answers(), (std::multiset<std::string>{"Ошибка при удалении сообщения 997",
                                                   "Ошибка при удалении сообщения 999"}));
  EXPECT_EQ(test_support::ListTree(out), (std::vector<std::string>{"998.xml"}));
  platform::ClearFaults();
  folder::ProcessFile(exchange.path);
  folder::ProcessFile(exchange.path);
  EXPECT_EQ(Answers(), (std::multiset<std::string>{"Ошибка при удалении сообщения 997", "Ошибка при удалении сообщения 998",
                                                   "Ошибка при удалении сообщения 999"}));
  EXPECT_TRUE(Requests().empty());
  EXPECT_TRUE(test_support::ListTree(out).empty());

  // A claim whose request cannot be written into the working folder leaves
  // it in out/ (nothing half-deciphered waits); one cut short after the
  // request was written, before its source went, yields one request.
  test_support::WriteText(out + "r.xml", Cipher(RequestText("deletemessage", "<message>996</message>")));
  folder::MoveFilesToWorking(context);
  platform::InjectFault(platform::Syscall::Open, EIO, -1, core::WorkingFolder() + "r.xml");
  folder::ProcessFile(exchange.path);
  platform::ClearFaults();
  EXPECT_EQ(test_support::ListTree(out), (std::vector<std::string>{"r.xml"}));
  EXPECT_TRUE(Requests().empty());
  EXPECT_EQ(Answers().size(), 3u) << "nothing answered for it yet";
  Waiting("r.xml", RequestText("deletemessage", "<message>996</message>"));
  folder::ProcessFile(exchange.path);
  EXPECT_TRUE(test_support::ListTree(out).empty());
  EXPECT_TRUE(Requests().empty());
  EXPECT_EQ(Answers().count("Ошибка при удалении сообщения 996"), 1u);
}

}  // namespace
}  // namespace exchange_test
