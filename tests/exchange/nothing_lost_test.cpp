// No document is ever lost or stored twice: a reply whose answer was lost,
// a client killed while it waited for the answer, a confirmation that could
// not be sent, a delete that failed, a document this machine's key could
// not open on arrival, and the same faults in the middle of a list, where
// the next message is fetched and the last deleted beside the current one.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/client_state.h"
#include "core/text.h"
#include "crypto/verify.h"
#include "exchange/document.h"
#include "exchange/intake.h"
#include "exchange/reply.h"
#include "exchange/session.h"
#include "exchange_fixture.h"
#include "platform/ui.h"
#include "storage/database.h"
#include "storage/settings.h"

namespace exchange_test {
namespace {

class NothingLostTest : public ExchangeTest {
 protected:
  void SetUp() override {
    ExchangeTest::SetUp();
    StartSim();
    ASSERT_TRUE(exchange::CTS(nullptr));
    exchange::LoadMessagesFromBase();
  }

  json Send(const std::string& content, bool confirm = false) {
    return Inject(json{{"from", "alpha"}, {"to", "beta"}, {"type", 52}, {"confirm", confirm}, {"content", content}});
  }

  // Documents from alpha, every other one asking for a confirmation; their
  // identifiers in list order.
  std::vector<int32_t> SendList(int count) {
    std::vector<int32_t> idms;
    for (int i = 0; i < count; ++i) {
      json sent = Send("<html>Документ " + std::to_string(i) + "</html>", i % 2 == 0);
      idms.push_back(sent["idm"].get<int32_t>());
    }
    return idms;
  }

  // Each of the documents is in the table exactly once and none waits.
  void ExpectStoredOnce(const std::vector<int32_t>& idms) {
    EXPECT_EQ(RowCount(), static_cast<int>(idms.size()));
    for (int32_t idm : idms) EXPECT_GE(EntryOfIdm(idm).id, 1) << idm;
    EXPECT_TRUE(Mailbox("beta").empty());
  }

  // Lets the next `passed` requests of a type through, then arms `fault`
  // for the one after.
  void ArmAfter(int type, int passed, json fault) {
    if (passed > 0) ArmFault(json{{"action", "delay"}, {"type", type}, {"ms", 0}, {"count", passed}});
    fault["type"] = type;
    ArmFault(fault);
  }

  size_t SentByBeta(int family) const {
    size_t count = 0;
    for (const json& message : Received("beta")) count += message["family"] == family ? 1 : 0;
    return count;
  }
};

TEST_F(NothingLostTest, ReplyWhoseAnswerWasLostIsSentAgainByteForByte) {
  json sent = Send("<html>Счёт-фактура</html>");
  ASSERT_EQ(exchange::ClientGetMessagesFromServer(), 1);
  storage::MessageEntry entry = EntryOfIdm(sent["idm"].get<int32_t>());

  // The server takes the reply, then the connection breaks mid-answer.
  ArmFault(json{{"action", "truncate"}, {"type", 153}});
  EXPECT_EQ(exchange::ClientSingAndSendMessage(entry.row, true, 0), L"Ошибка отправки сообщения<BR>");
  storage::StoredMessage saved = Row(entry.id);
  ASSERT_EQ(saved.status, 1);
  ASSERT_FALSE(saved.tempSD.empty());
  ASSERT_FALSE(saved.tempDFS.empty());
  EXPECT_EQ(storage::MessageColumns(*storage::MessageAt(storage::FindMessageByIdm(entry.idm)))[4], L"Отправляется");
  json accepted = Received("beta", true);
  ASSERT_EQ(accepted.size(), 1u);
  EXPECT_EQ(Base64Field(accepted[0]["payload"]), saved.tempDFS) << "the server holds the saved bytes";

  // The next list load sends the same bytes; the server already has them
  // (code 10), which counts as delivered.
  exchange::LoadMessagesFromBase();
  EXPECT_EQ(Counter("requests.153"), 2);
  EXPECT_EQ(Counter("routing.refused.10"), 1);
  storage::StoredMessage delivered = Row(entry.id);
  EXPECT_EQ(delivered.status, 2);
  EXPECT_EQ(delivered.message, saved.tempSD);
  EXPECT_TRUE(delivered.tempDFS.empty());
  EXPECT_EQ(SentByBeta(53), 1u);
  EXPECT_EQ(storage::MessageAt(storage::FindMessageByIdm(entry.idm))->status, 2);

  // Nothing is left to send on later loads.
  const int64_t requests = Counter("requests");
  exchange::LoadMessagesFromBase();
  EXPECT_EQ(Counter("requests"), requests);
}

TEST_F(NothingLostTest, ClientKilledWhileWaitingForTheAnswerLosesNothing) {
  json sent = Send("<html>Акт сверки</html>");
  ASSERT_EQ(exchange::ClientGetMessagesFromServer(), 1);
  storage::MessageEntry entry = EntryOfIdm(sent["idm"].get<int32_t>());
  ASSERT_EQ(entry.row, 0);

  // The server takes the reply and then holds its answer back.
  ArmFault(json{{"action", "delay"}, {"type", 153}, {"ms", 8000}});
  pid_t pid = fork();
  if (pid == 0) {
    std::string program = test_support::BuiltProgram("tests/exchange/exchange_reply_process");
    execl(program.c_str(), program.c_str(), this->program.path.c_str(), beta.iksHex.c_str(), "12345678",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_GT(pid, 0);
  const bool reached = WaitFor([this] { return SentByBeta(53) == 1; }, 20000);
  const bool saved = Row(entry.id).status == 1;
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(reached) << "the reply never reached the server";
  ASSERT_TRUE(saved) << "the reply was not saved before it left";
  EXPECT_TRUE(WIFSIGNALED(status)) << "the client ended before it was killed";

  // The client starts again: its first list load finds the saved reply.
  exchange::ResetReplyStateForTest();
  exchange::LoadMessagesFromBase();
  EXPECT_EQ(Row(entry.id).status, 2);
  EXPECT_EQ(SentByBeta(53), 1u);
  EXPECT_EQ(Counter("routing.refused.10"), 1);
}

TEST_F(NothingLostTest, DocumentWhoseConfirmationCannotBeSentStaysOnTheServer) {
  json sent = Send("<html>Накладная</html>", true);
  ArmFault(json{{"action", "code"}, {"type", 154}, {"code", 6}});
  EXPECT_EQ(exchange::ClientGetMessagesFromServer(), 1);
  EXPECT_EQ(RowCount(), 0);
  EXPECT_EQ(Counter("requests.42"), 0) << "not deleted";
  ASSERT_EQ(Mailbox("beta").size(), 1u);

  EXPECT_EQ(exchange::ClientGetMessagesFromServer(), 1);
  EXPECT_EQ(RowCount(), 1);
  EXPECT_TRUE(Mailbox("beta").empty());
  EXPECT_EQ(EntryOfIdm(sent["idm"].get<int32_t>()).type, 52);
}

TEST_F(NothingLostTest, WithoutServiceStatusNoConfirmationIsSentAndTheDocumentWaits) {
  ASSERT_EQ(sim->Post("/organisations/beta/service-code", json{{"code", 0}}).status, 200);
  exchange::SetServiceStatus(0);
  Send("<html>Накладная</html>", true);
  EXPECT_EQ(exchange::ClientGetMessagesFromServer(), 1);
  EXPECT_EQ(exchange::ServiceStatus(), 0);
  EXPECT_EQ(Counter("requests.54") + Counter("requests.154"), 0);
  EXPECT_EQ(RowCount(), 0);
  EXPECT_EQ(Mailbox("beta").size(), 1u);
}

TEST_F(NothingLostTest, FailedDeleteFindsTheDuplicateNextRunAndStoresItOnce) {
  // Once with the identifiers the list load knew, once after a restart
  // (the table itself is asked).
  for (bool restarted : {false, true}) {
    json sent = Send("<html>Письмо</html>");
    ArmFault(json{{"action", "code"}, {"type", 42}, {"code", 6}});
    const int rows = RowCount();
    EXPECT_EQ(exchange::ClientGetMessagesFromServer(), 1);
    EXPECT_EQ(RowCount(), rows + 1);
    EXPECT_EQ(Mailbox("beta").size(), 1u) << "the delete failed";
    EXPECT_NE(ErrorLog().find("Ошибка удаления сообщения в АИС"), std::string::npos);

    if (restarted) exchange::ResetIntakeStateForTest();
    ShowWindow();
    EXPECT_EQ(exchange::ClientGetMessagesFromServer(), 1);
    EXPECT_EQ(RowCount(), rows + 1) << "not stored twice";
    EXPECT_TRUE(Mailbox("beta").empty());
    std::vector<std::wstring> lines = StatusLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), L"Сообщение уже есть в базе"), lines.end());
    EXPECT_GE(EntryOfIdm(sent["idm"].get<int32_t>()).id, 1);
  }
}

TEST_F(NothingLostTest, FailuresInTheMiddleOfAListLoseNothing) {
  std::vector<int32_t> idms = SendList(6);
  ArmAfter(41, 2, json{{"action", "drop"}});                // the third fetch
  ArmAfter(154, 1, json{{"action", "code"}, {"code", 6}});  // the second confirmation
  ArmAfter(42, 2, json{{"action", "code"}, {"code", 6}});   // the third deletion
  // The table refuses the second document.
  const std::string refuse = "CREATE TEMP TRIGGER refuse BEFORE INSERT ON Messages WHEN NEW.idm = " +
                             std::to_string(idms[1]) + " BEGIN SELECT RAISE(ABORT, 'refused'); END;";
  ASSERT_EQ(sqlite3_exec(storage::Database(), refuse.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(exchange::ClientGetMessagesFromServer(), 6);
  // Stored: 0, 3 and 5. Not stored: 1 (refused by the table), 2 (not
  // fetched), 4 (not confirmed). The third deletion, of 5, was refused.
  EXPECT_EQ(RowCount(), 3);
  EXPECT_EQ(Mailbox("beta").size(), 4u);
  EXPECT_EQ(Counter("requests.42"), 3) << "only stored documents are deleted";
  EXPECT_NE(ErrorLog().find("Ошибка сохранения сообщения"), std::string::npos);

  ASSERT_EQ(sqlite3_exec(storage::Database(), "DROP TRIGGER refuse;", nullptr, nullptr, nullptr), SQLITE_OK);
  ShowWindow();
  EXPECT_EQ(exchange::ClientGetMessagesFromServer(), 4);
  ExpectStoredOnce(idms);
  std::vector<std::wstring> lines = StatusLines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), L"Сообщение уже есть в базе"), lines.end());
  // One confirmation for each document that asked, the refused one again.
  EXPECT_EQ(Counter("requests.154") + Counter("requests.54"), 4);
}

TEST_F(NothingLostTest, ClientKilledInTheMiddleOfAListLosesNothing) {
  std::vector<int32_t> idms = SendList(8);
  // The fifth fetch is held back; the client is killed while it waits,
  // with the fourth document anywhere between fetched and deleted.
  ArmAfter(41, 4, json{{"action", "delay"}, {"ms", 8000}});
  pid_t pid = fork();
  if (pid == 0) {
    std::string program = test_support::BuiltProgram("tests/exchange/exchange_reply_process");
    execl(program.c_str(), program.c_str(), this->program.path.c_str(), beta.iksHex.c_str(), "12345678", "intake",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_GT(pid, 0);
  const bool reached = WaitFor([this] { return Counter("requests.41") >= 5; }, 20000);
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(reached) << "the fifth fetch never reached the server";
  EXPECT_TRUE(WIFSIGNALED(status)) << "the client ended before it was killed";
  EXPECT_LT(RowCount(), 5);

  exchange::ResetIntakeStateForTest();
  exchange::ClientGetMessagesFromServer();
  ExpectStoredOnce(idms);
}

TEST_F(NothingLostTest, DocumentTheKeyCannotOpenWaitsAndAnEncryptedRowIsDecryptedWhenShown) {
  // The key medium's password is wrong while the document arrives; the
  // session was opened before. This machine's problem is not the sender's:
  // nothing is refused, confirmed, stored or deleted.
  storage::SetSettingText("IDC_PASS", L"87654321");
  json sent = Send("<html>Договор поставки</html>", true);
  EXPECT_EQ(exchange::ClientGetMessagesFromServer(), 1);
  EXPECT_EQ(RowCount(), 0);
  json waiting = Mailbox("beta", true);
  ASSERT_EQ(waiting.size(), 1u) << "left on the server";
  for (const json& message : Mailbox("alpha")) EXPECT_NE(message["family"], 56) << "no refusal";
  EXPECT_EQ(Counter("requests.154") + Counter("requests.54"), 0) << "no confirmation of what could not be read";

  // A row stored still encrypted, as a document whose envelope did not
  // open was stored by earlier versions, is opened when it is shown.
  storage::NewMessage encrypted;
  encrypted.idm = sent["idm"].get<int32_t>();
  encrypted.dateIn = 1700000000;
  encrypted.type = 62;
  encrypted.message = Base64Field(waiting[0]["payload"]);
  std::copy(alpha.iks.begin(), alpha.iks.end(), encrypted.senderIKS.begin());
  ASSERT_EQ(storage::InsertMessage(encrypted), 0);
  exchange::LoadMessagesFromBase();
  storage::MessageEntry entry = EntryOfIdm(encrypted.idm);
  EXPECT_EQ(entry.type, 62);
  storage::SetSettingText("IDC_PASS", L"12345678");
  bool ok = false;
  uint8_t verdict = 99;
  std::string page;
  std::wstring report = exchange::ShowDocumentOf(entry, false, &ok, &verdict, &page);
  EXPECT_TRUE(ok);
  EXPECT_EQ(verdict, 0);
  const std::string opening = "<html>Договор поставки</html><BR>";
  EXPECT_EQ(page.substr(0, opening.size()), opening);
  storage::StoredMessage row = Row(entry.id);
  EXPECT_EQ(row.type, 52);
  int signatures = 0;
  crypto::DataBlock content;
  std::wstring stored;
  EXPECT_EQ(crypto::VerifyMessageSignature(crypto::MakeBlock(row.message), &signatures, &content, &stored, nullptr), 1);

  // Shown again: the row is signed now, nothing is decrypted twice.
  std::string log = NormalLog();
  const size_t decrypts = [&] {
    size_t count = 0;
    for (size_t at = log.find("Try decrypt message"); at != std::string::npos;
         at = log.find("Try decrypt message", at + 1)) {
      ++count;
    }
    return count;
  }();
  EXPECT_EQ(decrypts, 1u);
  exchange::ShowDocumentOf(entry, false, &ok, &verdict, &page);
  EXPECT_TRUE(ok);
  log = NormalLog();
  EXPECT_EQ(log.find("Try decrypt message", log.find("Try decrypt message") + 1), std::string::npos);
}

}  // namespace
}  // namespace exchange_test
