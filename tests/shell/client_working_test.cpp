// The real client at work: a fresh program folder, settings written with
// tsr-tool, the simulator as its server. The client starts, selects the
// certificate, opens the container and a session, counts the waiting
// messages on its timer, fetches them on the exchange command, stores and
// lists them; and each way it can be kept from working shows its state.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <thread>

#include "client_process.h"
#include "core/text.h"
#include "sim_process.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using shell_test::ClientProcess;

class ClientWorkingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::copy(std::string(AIS_SIM_TEST_PKI), store.path, fs::copy_options::recursive);
    Install(program.path, "beta");
  }

  // The client and its updater in `folder`, set up for the organisation.
  void Install(const std::string& folder, const std::string& organisation) {
    for (const char* built : {"src/shell/Tessarin", "src/updater/TSR_Update"}) {
      fs::copy_file(test_support::BuiltProgram(built), folder + fs::path(built).filename().string(),
                    fs::copy_options::overwrite_existing);
    }
    Setting("IDC_CERT", sim_test::PkiIks(organisation), folder);
    Setting("IDC_PASS", "12345678", folder);
    Setting("IDC_EMAIL", organisation + "@example.by", folder);
  }

  // A sanitizer build of the client reports on its console; any report
  // fails the test.
  void TearDown() override {
    std::string console = client.Console();
    for (const char* report : {"ThreadSanitizer", "AddressSanitizer", "LeakSanitizer", "runtime error:"}) {
      EXPECT_EQ(console.find(report), std::string::npos) << console;
    }
  }

  void Setting(const std::string& name, const std::string& value, const std::string& folder = "") {
    std::string command = test_support::BuiltProgram("tools/tsr-tool/tsr-tool") + " settings set " + name + " '" +
                          value + "' --folder " + (folder.empty() ? program.path : folder) + " >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }

  // The client's organisation (beta) is known to the server unless told
  // otherwise.
  void StartSim(bool betaKnown = true) {
    sim = std::make_unique<sim_test::SimProcess>(std::vector<std::string>{"--quiet"});
    ASSERT_TRUE(sim->started());
    ASSERT_EQ(sim->Post("/organisations", json{{"pki", "alpha"}}).status, 201);
    if (betaKnown) {
      ASSERT_EQ(sim->Post("/organisations", json{{"pki", "beta"}}).status, 201);
    }
    server = sim->endpoint();
  }

  void StartClient(ClientProcess* process = nullptr, const std::string& folder = "", const std::string& temporary = "") {
    (process ? *process : client)
        .Start(folder.empty() ? program.path : folder, temporary.empty() ? temp.path : temporary,
               {{"TESSARIN_CERTSTORE", store.path}, {"TESSARIN_SERVER", server}});
  }

  int StoredRows(const std::string& file = "TS.db") {
    sqlite3* db = nullptr;
    int rows = -1;
    if (sqlite3_open_v2((program.path + file).c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
      sqlite3_stmt* statement = nullptr;
      if (sqlite3_prepare_v2(db, "SELECT count(*) FROM Messages WHERE status = 0", -1, &statement, nullptr) == SQLITE_OK &&
          sqlite3_step(statement) == SQLITE_ROW) {
        rows = sqlite3_column_int(statement, 0);
      }
      sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return rows;
  }

  // Another program's change to every stored row.
  void SetStatuses(int status) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((program.path + "TS.db").c_str(), &db), SQLITE_OK);
    std::string sql = "UPDATE Messages SET status = " + std::to_string(status);
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
  }

  test_support::TempFolder program;  // the client's program folder
  test_support::TempFolder temp;     // its temporary folder
  test_support::TempFolder store;    // its certificate store
  std::unique_ptr<sim_test::SimProcess> sim;
  std::string server = "127.0.0.1:1";
  ClientProcess client;
};

TEST_F(ClientWorkingTest, CountsOnItsTimerThenFetchesStoresAndListsOnTheExchangeCommand) {
  StartSim();
  for (const char* content : {"Счёт № 1", "Акт № 2"}) {
    ASSERT_EQ(sim->Post("/messages", json{{"from", "alpha"}, {"to", "beta"}, {"type", 52}, {"content", content}}).status,
              201);
  }
  StartClient();
  // The window starts hidden, so the count arrives as a balloon.
  ASSERT_TRUE(client.WaitForConsole("Внимание: Ожидают получения 2 сообщений")) << client.Console();

  client.Type("show");
  client.Type("get");
  ASSERT_TRUE(client.WaitForConsole("Сообщение получено", 20, 2)) << client.Console();
  EXPECT_EQ(StoredRows(), 2);

  client.Type("list");
  ASSERT_TRUE(client.WaitForConsole("ООО Альфа | 190000001 | Электронный документ | Не подписан", 10, 2))
      << client.Console();

  // One is refused with a reason picked from the offered list, where the
  // separator is no reason.
  for (const char* line : {"refuse 2", "5", "2", "yes"}) client.Type(line);
  ASSERT_TRUE(client.WaitForConsole("Сообщение отправлено Отправителю")) << client.Console();
  EXPECT_THAT(client.Console(), ::testing::HasSubstr("Разделитель не является причиной отказа"));
  json sent = sim->Get("/received/beta").body;
  ASSERT_EQ(sent.size(), 1u) << sent;
  EXPECT_EQ(sent[0]["type"], 56);
  client.Type("exit");
  EXPECT_EQ(client.Wait(), 0);
  EXPECT_EQ(sim->Get("/mailboxes/beta").body.size(), 0u) << "the fetched messages were deleted on the server";
  // The ended client left its rows in "TS.db" itself: a copy of that file alone holds them.
  fs::copy_file(program.path + "TS.db", program.path + "copy.db");
  EXPECT_EQ(StoredRows("copy.db"), 1) << "one unanswered, one refused";
}

TEST_F(ClientWorkingTest, GetReportsWhileHiddenAndSignDescribesTheRowAndWaitsForYes) {
  StartSim();
  ASSERT_EQ(sim->Post("/messages", json{{"from", "alpha"}, {"to", "beta"}, {"type", 52}, {"content", "Счёт № 3"}}).status,
            201);
  StartClient();
  ASSERT_TRUE(client.WaitForConsole("Внимание: Ожидают получения 1 сообщений")) << client.Console();

  // The window stays hidden, as it normally is.
  client.Type("get");
  ASSERT_TRUE(client.WaitForConsole("Сообщение получено")) << client.Console();
  ASSERT_TRUE(client.WaitForConsole("1 | ")) << client.Console();  // the list, printed again

  client.Type("sign 1");
  ASSERT_TRUE(client.WaitForConsole("Подписать электронный документ?")) << client.Console();
  EXPECT_THAT(client.Console(), ::testing::HasSubstr("Отправитель: ООО Альфа\nУНП: 190000001\nВид сообщения: "
                                                     "Электронный документ\nПолучено: "));
  client.Type("no");
  ASSERT_TRUE(client.WaitForConsole("Подписание отменено")) << client.Console();
  EXPECT_EQ(StoredRows(), 1);

  // Between the question and the answer the row is refused elsewhere: the
  // answer finds it so and sends nothing.
  client.Type("sign 1");
  ASSERT_TRUE(client.WaitForConsole("Подписать электронный документ?", 20, 2)) << client.Console();
  SetStatuses(121);
  client.Type("yes");
  ASSERT_TRUE(client.WaitForConsole("От подписания этого сообщения уже отказались, ничего не отправлено"))
      << client.Console();
  SetStatuses(0);

  client.Type("sign 1");
  client.Type("yes");
  ASSERT_TRUE(client.WaitForConsole("Сообщение отправлено Отправителю")) << client.Console();
  EXPECT_EQ(StoredRows(), 0);
  json sent = sim->Get("/received/beta").body;
  ASSERT_EQ(sent.size(), 1u) << sent;
  EXPECT_THAT(sent[0]["type"].get<int>(), ::testing::AnyOf(53, 153));  // the co-signed document
  client.Type("exit");
  EXPECT_EQ(client.Wait(), 0);
}

TEST_F(ClientWorkingTest, AnUnknownOrganisationRegistersFromTheConsoleOnlyOnceTheAgreementIsAccepted) {
  StartSim(false);
  StartClient();
  // Started hidden, the client asked nobody; "get" shows the window and
  // the question is asked there.
  for (int round = 1; round <= 2; ++round) {
    client.Type("get");
    ASSERT_TRUE(client.WaitForConsole("Выбранный сертификат: ООО Бета\r\nне зарегистрован в АИС\r\nЗарегистрировать?",
                                      20, round))
        << client.Console();
    client.Type("yes");
    ASSERT_TRUE(client.WaitForConsole("=== Соглашение ===", 20, round)) << client.Console();
    client.Type(round == 1 ? "decline" : "agree");
    if (round == 1) {
      ASSERT_TRUE(client.WaitForConsole("Регистрация прервана пользователем")) << client.Console();
      EXPECT_EQ(sim->Get("/organisations").body.size(), 1u) << "declined: only alpha is known";
    }
  }
  ASSERT_TRUE(client.WaitForConsole("Регистрация прошла успешно")) << client.Console();
  ASSERT_TRUE(client.WaitForConsole("Соединение с АИС успешно установлено.")) << client.Console();
  EXPECT_EQ(sim->Get("/organisations/beta").status, 200);
  client.Type("exit");
  EXPECT_EQ(client.Wait(), 0);
}

TEST_F(ClientWorkingTest, InTheExchangeFolderModeTheConsoleLeavesTheMessagesToTheAccountingSystem) {
  StartSim();
  ASSERT_EQ(sim->Post("/messages", json{{"from", "alpha"}, {"to", "beta"}, {"type", 52}, {"content", "Счёт № 4"}}).status,
            201);
  Setting("IDC_SERVICE", "1");
  Setting("IDC_RUN", "1");
  StartClient();
  client.Type("get");
  client.Type("list");
  client.Type("sign 1");
  ASSERT_TRUE(client.WaitForConsole("Команда sign недоступна: программа работает в режиме обмена с учетной системой"))
      << client.Console();
  EXPECT_THAT(client.Console(), ::testing::HasSubstr("Команда get недоступна: программа работает в режиме обмена"));
  EXPECT_THAT(client.Console(), ::testing::HasSubstr("Команда list недоступна: программа работает в режиме обмена"));
  client.Type("exit");
  EXPECT_EQ(client.Wait(), 0);
  EXPECT_EQ(sim->Get("/mailboxes/beta").body.size(), 1u) << "the message waits for the accounting system";
  // The start with "IDC_RUN" on added the client's autostart entry.
  EXPECT_THAT(test_support::ReadText(temp.path + "config/autostart/Tessarin 190000002.desktop"),
              ::testing::HasSubstr("\nExec=\"" + program.path + "Tessarin\"\n"));
}

TEST_F(ClientWorkingTest, AWrongStoredPasswordStopsTheAutomaticExchangeUntilTheSettingsMendIt) {
  StartSim();
  ASSERT_EQ(sim->Post("/messages", json{{"from", "alpha"}, {"to", "beta"}, {"type", 52}, {"content", "Счёт № 5"}}).status,
            201);
  Setting("IDC_PASS", "87654321");
  StartClient();
  EXPECT_TRUE(client.WaitForConsole(
      "Внимание: В настройках не указан верный пароль от контейнера. Автоматический обмен производиться не будет"))
      << client.Console();

  client.Type("certs");
  ASSERT_TRUE(client.WaitForConsole("| 190000002 |")) << client.Console();
  EXPECT_THAT(client.Console(), ::testing::HasSubstr("| 190000001 |"));
  client.Type("settings");
  client.Type("settings set pass 12345678");
  client.Type("settings set email org@example.by");
  client.Type("settings ok");
  ASSERT_TRUE(client.WaitForConsole("Настройки сохранены")) << client.Console();
  // The work starts again with the right password and counts the waiting message.
  EXPECT_TRUE(client.WaitForConsole("Внимание: Ожидают получения 1 сообщений")) << client.Console();
  EXPECT_EQ(client.Stop(), 0);
  EXPECT_EQ(test_support::RunTool("settings get IDC_EMAIL --folder " + program.path).output, "org@example.by\n");
}

TEST_F(ClientWorkingTest, AMissingKeyMediumGivesItsWarningAfterTheCountedFailures) {
  StartSim();
  fs::remove(store.path + "My/beta.key");
  StartClient();
  // The first check at start and then one every 5 s; the third failure in a
  // row sets the state and warns.
  EXPECT_TRUE(client.WaitForConsole("Внимание: Не установлен носитель с личным ключом или ошибка при чтении носителя", 30))
      << client.Console();
  EXPECT_EQ(client.Stop(), 0);
}

TEST_F(ClientWorkingTest, WithoutTheServerTheClientWarnsThatThereIsNoLink) {
  StartClient();
  EXPECT_TRUE(client.WaitForConsole("Внимание: Нет связи с АИС", 30)) << client.Console();
  EXPECT_EQ(client.Stop(), 0);
}

// The exchange-folder mode with nobody at the console: tsr-tool plays the
// accounting system, writing requests into the folder's out/ and reading
// the answers of its in/.
class ClientFolderTest : public ClientWorkingTest {
 protected:
  struct Answer {
    std::string file;  // its name in in/
    std::string text;  // deciphered
  };

  void SetUp() override {
    ClientWorkingTest::SetUp();
    Setting("IDC_SERVICE", "1");
    Setting("IDC_PATH", exchange.path);
  }

  void Request(const std::string& arguments, const std::string& folder = "") {
    test_support::ToolRun run = test_support::RunTool("request " + (folder.empty() ? exchange.path : folder) +
                                                      " --iks " + sim_test::PkiIks(organisation) + " " + arguments);
    ASSERT_EQ(run.exitCode, 0) << arguments;
  }

  std::vector<Answer> Answers() {
    std::istringstream lines(
        test_support::RunTool("answers " + exchange.path + " --iks " + sim_test::PkiIks(organisation) + " --xml").output);
    std::vector<Answer> answers;
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("== ", 0) == 0) {
        answers.push_back({line.substr(3), ""});
      } else if (!answers.empty()) {
        answers.back().text += line;
      }
    }
    return answers;
  }

  // Polls the condition for up to 30 s.
  static bool Eventually(const std::function<bool()>& condition) {
    for (int i = 0; i < 150 && !condition(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    return condition();
  }

  // Waits until in/ holds `count` answers and, when finished, out/ and the
  // working folder no request: every request taken and finished.
  std::vector<Answer> WaitForAnswers(size_t count, bool finished = true) {
    std::vector<Answer> answers;
    Eventually([&] {
      answers = Answers();
      return answers.size() >= count &&
             (!finished || (Xmls(exchange.path + "out/") == 0 && Xmls(program.path + "working/") == 0));
    });
    EXPECT_EQ(answers.size(), count) << client.Console();
    return answers;
  }

  static int Xmls(const std::string& folder) {
    int count = 0;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder, ignored)) count += entry.path().extension() == ".xml";
    return count;
  }

  static std::string Of(const Answer& answer, const std::string& element) {
    return core::FindTag(answer.text, element).value_or("(none)");
  }

  static const Answer* WithId(const std::vector<Answer>& answers, const std::string& id) {
    for (const Answer& answer : answers) {
      if (Of(answer, "ID") == id) return &answer;
    }
    return nullptr;
  }

  test_support::TempFolder exchange;  // the exchange folder
  std::string organisation = "beta";  // whose client serves it
};

TEST_F(ClientFolderTest, MailboxRequestsAreAnsweredAndConfirmationsSentToTheSender) {
  StartSim();
  json invoice = sim->Post("/messages", json{{"from", "alpha"}, {"to", "beta"}, {"type", 52}, {"confirm", true},
                                             {"content", "Счёт № 8"}}).body;
  json reply = sim->Post("/messages", json{{"from", "alpha"}, {"to", "beta"}, {"type", 53}, {"confirm", true},
                                           {"content", "Акт № 9, подписан обеими сторонами"}}).body;
  json plain = sim->Post("/messages", json{{"from", "alpha"}, {"to", "beta"}, {"type", 52}, {"content", "Акт № 10"}}).body;
  ASSERT_EQ(invoice["type"], 62);
  ASSERT_EQ(reply["type"], 63);
  StartClient();
  Request("--type GetList --as list.xml");
  std::vector<Answer> answers = WaitForAnswers(3);
  struct Expected {
    json sent;
    const char* type;
    const char* content;
  };
  for (const Expected& expected : {Expected{invoice, "edocwithsign", "Счёт № 8"},
                                   Expected{reply, "edocwithtwosigns", "Акт № 9, подписан обеими сторонами"},
                                   Expected{plain, "edocwithsign", "Акт № 10"}}) {
    const Answer* answer = WithId(answers, std::to_string(expected.sent["idm"].get<int>()));
    ASSERT_NE(answer, nullptr) << expected.content;
    EXPECT_EQ(Of(*answer, "type"), expected.type);
    EXPECT_EQ(Of(*answer, "number"), expected.sent["number"]);
    EXPECT_EQ(answer->file, Of(*answer, "number") + ".xml");
    EXPECT_EQ(Of(*answer, "unp"), "190000001");
    EXPECT_EQ(Of(*answer, "iks"), sim_test::PkiIks("alpha"));
    EXPECT_EQ(Of(*answer, "name"), "ООО Альфа");
    EXPECT_EQ(Of(*answer, "VerifySign"), "true");
    EXPECT_THAT(Of(*answer, "VerifyInfo"), ::testing::Not(::testing::IsEmpty()));
    EXPECT_FALSE(Of(*answer, "certificate").empty());
    std::vector<uint8_t> document = core::Base64Decode(Of(*answer, "message"));
    EXPECT_THAT(std::string(document.begin(), document.end()), ::testing::HasSubstr(expected.content));
  }
  // The two that asked for it were confirmed to alpha, nothing refused;
  // every message still waits until the accounting system deletes it.
  std::vector<std::string> confirmed;
  for (const json& message : sim->Get("/mailboxes/alpha").body) {
    EXPECT_EQ(message["family"], 54) << message;
    confirmed.push_back(message["number"]);
  }
  EXPECT_THAT(confirmed, ::testing::UnorderedElementsAre(invoice["number"], reply["number"]));
  EXPECT_EQ(sim->Get("/mailboxes/beta").body.size(), 3u);

  // One message again, its deletion, and a deletion the server refuses.
  const std::string idm = std::to_string(plain["idm"].get<int>());
  Request("--type getmessage --message " + idm + " --as one.xml");
  answers = WaitForAnswers(4);
  EXPECT_EQ(Xmls(exchange.path + "in/"), 4) << "the second answer of a number gets a name of its own";
  Request("--type deletemessage --message " + idm + " --as delete.xml");
  Request("--type deletemessage --message 999 --as delete-unknown.xml");
  answers = WaitForAnswers(5);
  EXPECT_EQ(sim->Get("/mailboxes/beta").body.size(), 2u);
  const Answer* refused = nullptr;
  for (const Answer& answer : answers) refused = Of(answer, "error") != "(none)" ? &answer : refused;
  ASSERT_NE(refused, nullptr);
  EXPECT_EQ(Of(*refused, "error"), "Ошибка при удалении сообщения 999");
  EXPECT_EQ(Of(*refused, "errorcode"), "8");
  EXPECT_EQ(Of(*refused, "errorinfo"), "Не найдена запись в АИС");
  EXPECT_EQ(Of(*refused, "number"), "(none)");
  EXPECT_THAT(refused->file, ::testing::StartsWith("error_"));
  EXPECT_EQ(client.Stop(), 0);
}

// Alpha's accounting system sends through alpha's folder; beta works at
// its desktop, receives and co-signs; the reply and the delivery news come
// back to alpha's accounting system through getlist.
TEST_F(ClientFolderTest, ADocumentSentThroughTheFolderIsCoSignedAtTheDesktopAndItsReplyFetchedThroughGetlist) {
  StartSim();
  organisation = "alpha";
  Install(program.path, "alpha");
  test_support::TempFolder betaProgram, betaTemp, files;
  Install(betaProgram.path, "beta");
  ClientProcess beta;
  StartClient();
  StartClient(&beta, betaProgram.path, betaTemp.path);
  const std::string number = "190000001000000021202612001";
  test_support::WriteText(files.path + "invoice.html", "<html><body>Счёт-фактура № 21</body></html>");
  std::string der = "openssl x509 -in " + store.path + "pki/certs/beta.pem -outform DER -out " + files.path + "beta.der";
  ASSERT_EQ(std::system(der.c_str()), 0);
  Request("--type signfirst --number " + number + " --receiverunp 190000002 --receiverbranch 0 --confirmdelivery "
          "--message-file " + files.path + "invoice.html --cpk " + files.path + "beta.der --as send.xml");
  std::vector<Answer> answers = WaitForAnswers(1);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(Of(answers[0], "type"), "EDocWithSign");
  EXPECT_EQ(Of(answers[0], "number"), number);
  EXPECT_EQ(Of(answers[0], "refer"), number + "_EDocWithSign");
  EXPECT_EQ(answers[0].file, number + "_EDocWithSign.xml");
  EXPECT_EQ(Of(answers[0], "VerifySign"), "true");
  std::vector<uint8_t> signed_ = core::Base64Decode(Of(answers[0], "message"));
  EXPECT_THAT(std::string(signed_.begin(), signed_.end()), ::testing::HasSubstr("Счёт-фактура № 21"));
  fs::remove(exchange.path + "in/" + answers[0].file);  // taken by the accounting system

  beta.Type("get");
  ASSERT_TRUE(beta.WaitForConsole("Сообщение получено")) << beta.Console();
  beta.Type("sign 1");
  ASSERT_TRUE(beta.WaitForConsole("Подписать электронный документ?")) << beta.Console();
  EXPECT_THAT(beta.Console(), ::testing::HasSubstr("Отправитель: ООО Альфа\nУНП: 190000001\n"));
  beta.Type("yes");
  ASSERT_TRUE(beta.WaitForConsole("Сообщение отправлено Отправителю")) << beta.Console();

  // The delivery confirmation beta's client sent on receipt, the server's
  // news of the delivery, and the co-signed reply.
  Request("--type getlist --as list.xml");
  answers = WaitForAnswers(3);
  std::map<std::string, const Answer*> byKind;
  for (const Answer& answer : answers) {
    byKind[Of(answer, "type") == "thestatus" ? Of(answer, "status") : Of(answer, "type")] = &answer;
    EXPECT_EQ(Of(answer, "number"), number) << answer.text;
    EXPECT_EQ(Of(answer, "unp"), "190000002") << answer.text;
    EXPECT_EQ(Of(answer, "iks"), sim_test::PkiIks("beta")) << answer.text;
  }
  ASSERT_EQ(byKind.size(), 3u);
  ASSERT_TRUE(byKind.count("edocwithtwosigns") && byKind.count("confirmation") && byKind.count("delivered"));
  for (const char* kind : {"edocwithtwosigns", "confirmation"}) {
    EXPECT_EQ(Of(*byKind[kind], "VerifySign"), "true") << kind;
    EXPECT_EQ(Of(*byKind[kind], "name"), "ООО Бета") << kind;
  }
  std::vector<uint8_t> reply = core::Base64Decode(Of(*byKind["edocwithtwosigns"], "message"));
  EXPECT_THAT(std::string(reply.begin(), reply.end()), ::testing::HasSubstr("Счёт-фактура № 21"));
  for (const json& message : sim->Get("/mailboxes/alpha").body) {
    if (message["family"] == 53) {
      EXPECT_EQ(Of(*byKind["edocwithtwosigns"], "ID"), std::to_string(message["idm"].get<int>()));
    }
  }
  beta.Type("exit");
  EXPECT_EQ(beta.Wait(), 0);
  EXPECT_EQ(client.Stop(), 0);
}

// Beta's accounting system answers what alpha sent: co-signs one document
// with a delivery confirmation wanted, refuses another, answers alpha's
// request for its certificate and asks for alpha's.
TEST_F(ClientFolderTest, RepliesRefusalsAndCertificatesGoOutThroughTheFolder) {
  StartSim();
  const json toSign =
      sim->Post("/messages", json{{"from", "alpha"}, {"to", "beta"}, {"type", 52}, {"content", "Договор № 3"}}).body;
  const json toRefuse =
      sim->Post("/messages", json{{"from", "alpha"}, {"to", "beta"}, {"type", 52}, {"content", "Счёт № 4"}}).body;
  const json asking = sim->Post("/messages", json{{"from", "alpha"}, {"to", "beta"}, {"type", 73}}).body;
  StartClient();
  Request("--type getlist --as list.xml");
  const std::vector<Answer> received = WaitForAnswers(3);
  const Answer* document = WithId(received, std::to_string(toSign["idm"].get<int>()));
  const Answer* request = WithId(received, std::to_string(asking["idm"].get<int>()));
  ASSERT_TRUE(document != nullptr && request != nullptr) << client.Console();
  for (const Answer& answer : received) fs::remove(exchange.path + "in/" + answer.file);

  test_support::TempFolder files;
  const std::vector<uint8_t> signedByAlpha = core::Base64Decode(Of(*document, "message"));
  const std::vector<uint8_t> alphaKey = core::Base64Decode(Of(*request, "message"));
  test_support::WriteText(files.path + "signed", std::string(signedByAlpha.begin(), signedByAlpha.end()));
  test_support::WriteText(files.path + "alpha.key", std::string(alphaKey.begin(), alphaKey.end()));
  std::string der = "openssl x509 -in " + store.path + "pki/certs/alpha.pem -outform DER -out " + files.path + "alpha.der";
  ASSERT_EQ(std::system(der.c_str()), 0);
  const std::string alpha = " --receiveriks " + sim_test::PkiIks("alpha");
  Request("--type signnext --number " + toSign["number"].get<std::string>() + alpha + " --cpk " + files.path +
          "alpha.der --message-file " + files.path + "signed --confirmdelivery --as next.xml");
  Request("--type rejected --number " + toRefuse["number"].get<std::string>() + " --rejectioncode 121 --as no.xml");
  Request("--type thecertificate --number " + asking["number"].get<std::string>() + alpha + " --receiverpk-file " +
          files.path + "alpha.key --face Петрова --base Устава --post Директор --name Петров --as cert.xml");
  Request("--type getcertificate --number 190000002000000031202612001" + alpha + " --as ask.xml");
  std::map<std::string, std::string> kinds;  // refer or number → type and status
  for (const Answer& answer : WaitForAnswers(4)) {
    const std::string key = Of(answer, "refer") != "(none)" ? Of(answer, "refer") : Of(answer, "number");
    kinds[key] = Of(answer, "type") + " " + Of(answer, "Status") + " " + Of(answer, "error");
  }
  EXPECT_EQ(kinds, (std::map<std::string, std::string>{
                       {toSign["number"].get<std::string>() + "_EDocWithTwoSigns", "EDocWithTwoSigns (none) (none)"},
                       {toRefuse["number"].get<std::string>(), "thestatus rejectionconfirmed (none)"},
                       {asking["number"].get<std::string>(), "thestatus sent (none)"},
                       {"190000002000000031202612001", "thestatus sent (none)"}}));
  // What alpha got: the co-signed reply wanting its confirmation, the
  // refusal, beta's certificate and beta's request for alpha's.
  std::multiset<int> types;
  for (const json& message : sim->Get("/mailboxes/alpha").body) types.insert(message["type"].get<int>() % 100);
  EXPECT_EQ(types, (std::multiset<int>{63, 56, 74, 73}));
  EXPECT_EQ(client.Stop(), 0);
}

TEST_F(ClientFolderTest, RequestsFailingTheSenderOrUnpCheckAreRefusedWithAnAnswerAndRemoved) {
  StartSim();
  StartClient();
  const std::string number = "190000001000000011202610007";  // alpha's УНП, not beta's
  // Each refusal of the sender or УНП ends its pass; one at a time.
  Request("--type getlist --senderiks " + sim_test::PkiIks("alpha") + " --as foreign.xml");
  std::vector<Answer> answers = WaitForAnswers(1);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(Of(answers[0], "error"), "ИКС отправителя не соответствует ИКС выбранного сертификата");
  EXPECT_EQ(Of(answers[0], "number"), "(none)");
  for (const char* type : {"signfirst", "getcertificate"}) {
    Request(std::string("--type ") + type + " --number " + number + " --receiverunp 190000001");
  }
  int unpRefusals = 0;
  for (const Answer& answer : WaitForAnswers(3)) {
    if (Of(answer, "number") == "(none)") continue;  // the sender's refusal above
    EXPECT_EQ(Of(answer, "error"), "УНП отправителя не соответствует УНП выбранного сертификата");
    EXPECT_EQ(Of(answer, "number"), number);
    ++unpRefusals;
  }
  EXPECT_EQ(unpRefusals, 2);
  EXPECT_TRUE(sim->Get("/received/beta").body.empty()) << "nothing was sent";
  EXPECT_EQ(client.Stop(), 0);
}

TEST_F(ClientFolderTest, WithoutALinkRequestsAreClaimedAndEachTickThatClaimsWarnsOnce) {
  StartClient();
  ASSERT_TRUE(client.WaitForConsole("Внимание: Нет связи с АИС", 30)) << client.Console();
  ASSERT_TRUE(Eventually([&] { return fs::is_directory(exchange.path + "out"); })) << "the client makes out/";
  EXPECT_TRUE(fs::is_directory(exchange.path + "in"));
  // Two requests appear in out/ at once, then a third.
  test_support::TempFolder stage;
  Request("--type getlist --as a.xml", stage.path);
  Request("--type getlist --as b.xml", stage.path);
  fs::rename(stage.path + "out", exchange.path + "out");
  EXPECT_TRUE(Eventually([&] { return Xmls(program.path + "working/") == 2; }));
  Request("--type getlist --as c.xml");
  EXPECT_TRUE(Eventually([&] { return Xmls(program.path + "working/") == 3; }));
  std::vector<Answer> answers = WaitForAnswers(2, false);
  for (const Answer& answer : answers) EXPECT_EQ(Of(answer, "error"), "Нет связи с АИС");
  EXPECT_EQ(Xmls(program.path + "working/"), 3) << "kept until the link is back";
  EXPECT_EQ(client.Stop(), 0);
}

TEST_F(ClientFolderTest, KilledInTheMiddleOfAPassItAnswersEveryRequestOnceAfterItsRestart) {
  StartSim();
  // Requests of 10 KB documents dropped at once: many signsingle, and
  // signfirst to alpha among them.
  test_support::TempFolder stage;
  test_support::WriteText(stage.path + "document.html", std::string(10240, 'x'));
  std::string pem = test_support::ReadText(std::string(AIS_SIM_TEST_PKI) + "pki/certs/alpha.pem");
  pem = pem.substr(pem.find('\n') + 1);
  const std::vector<uint8_t> der = core::Base64Decode(pem.substr(0, pem.find("-----")));
  test_support::WriteText(stage.path + "alpha.der", std::string(der.begin(), der.end()));
  std::vector<std::string> numbers;
  const int kSingles = 300, kFirsts = 20;
  for (int i = 0; i < kSingles + kFirsts; ++i) {
    numbers.push_back("190000002" + std::to_string(100000000 + i) + "000000001");
    Request((i < kSingles ? "--type signsingle" : "--type signfirst --receiveriks " + sim_test::PkiIks("alpha") + " --cpk " +
                                                      stage.path + "alpha.der") +
                " --number " + numbers.back() + " --message-file " + stage.path + "document.html --as r" +
                std::to_string(i) + ".xml",
            stage.path);
  }
  StartClient();
  ASSERT_TRUE(Eventually([&] { return fs::is_directory(exchange.path + "out"); }));
  fs::rename(stage.path + "out", exchange.path + "out");
  for (int i = 0; i < 3000 && Xmls(exchange.path + "in/") < 10; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(client.pid, SIGKILL);
  client.Wait();
  const int before = Xmls(exchange.path + "in/");
  ASSERT_GE(before, 10);
  EXPECT_LT(before, kSingles + kFirsts) << "killed after the pass ended";

  StartClient();
  std::vector<Answer> answers;
  EXPECT_TRUE(Eventually([&] {
    answers = Answers();
    return answers.size() >= numbers.size() && Xmls(program.path + "working/") == 0;
  })) << client.Console();
  std::map<std::string, int> answered;
  for (const Answer& answer : answers) {
    EXPECT_EQ(Of(answer, "error"), "(none)") << answer.text;
    ++answered[Of(answer, "number")];
  }
  int twice = 0;
  for (const std::string& number : numbers) {
    EXPECT_GE(answered[number], 1) << number;
    twice += std::max(answered[number] - 1, 0);
  }
  // The one way left to answer a request twice: the kill fell between its
  // answer's rename into in/ and the deletion of its file.
  EXPECT_LE(twice, 1);
  EXPECT_EQ(answers.size(), numbers.size() + static_cast<size_t>(twice));
  EXPECT_EQ(sim->Get("/received/beta").body.size(), static_cast<size_t>(kFirsts)) << "each signfirst sent once";
  EXPECT_EQ(sim->Get("/mailboxes/alpha").body.size(), static_cast<size_t>(kFirsts));
  EXPECT_EQ(client.Stop(), 0);
}

}  // namespace
