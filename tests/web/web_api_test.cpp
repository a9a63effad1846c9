// The web page's commands without a server: the canned requests of
// data/protocol.txt with their whole answers, the phone, the settings walk
// of "update", and sender names and texts that try to break out of their
// JSON strings.
#include <sqlite3.h>

#include <atomic>
#include <fstream>
#include <thread>
#include <vector>

#include "core/text.h"
#include "crypto/certificates.h"
#include "platform/ui.h"
#include "storage/database.h"
#include "storage/messages.h"
#include "storage/settings.h"
#include "web/web_settings.h"
#include "web_test.h"

namespace web_test {
namespace {

using WebApiTest = WebTest;

TEST_F(WebApiTest, CannedRequestsGetTheirWholeAnswers) {
  crypto::ResetCertificateStateForTest();
  storage::SetSettingInt("IDC_SERVICE", 0);
  storage::SetSettingInt("IDC_SECURE", 1);
  for (auto [name, value] : {std::pair{"IDC_CERT", L"0123456789ABCDEF0123456789ABCDEF01234567"}, {"IDC_BRANCH", L"0001"},
                             {"IDC_PATH", L"C:\\Обмен\\"}, {"IDC_FACE", L"Иванова \"И.И.\""}, {"IDC_BASE", L"Устава"},
                             {"IDC_POST", L"Директор"}, {"IDC_NAME", L"Иванов И.И."}, {"IDC_PHONE", L"375290000000"}}) {
    storage::SetSettingText(name, value);
  }

  std::ifstream file(WEB_TEST_DATA "protocol.txt");
  ASSERT_TRUE(file.is_open());
  std::string line;
  std::string query;
  int cases = 0;
  while (std::getline(file, line)) {
    if (line.rfind("> ", 0) == 0) query = line.substr(2);
    if (line.rfind("< ", 0) != 0) continue;
    EXPECT_EQ(Body(query), line.substr(2)) << query;
    ++cases;
  }
  EXPECT_EQ(cases, 20);
}

// Until the start-up has read the settings nothing is carried out; with the
// opt-in key only the page that knows it is.
TEST_F(WebApiTest, RequestsWaitForTheStartAndWithAKeyNeedIt) {
  storage::SetSettingText("IDC_PHONE", L"375290000000");
  const std::string query = std::string("request=settings&phone=") + kPhone + "&callback=cb";
  web::SetAccessKey("");
  const std::string answered = Body(query);
  ASSERT_EQ(answered.rfind("cb({\"settings\" :{", 0), 0u) << answered;
  storage::SetSettingText("IDC_PHONE", L"375290000000");
  web::SetAccessKey("0123456789ABCDEF0123456789ABCDEF");
  const std::string refused = "cb({\"message\" :\"Нет доступа: страница не передала ключ доступа клиента.\"})";
  EXPECT_EQ(Body(query), refused);
  EXPECT_EQ(Body(query + "&token=0123456789ABCDEF0123456789ABCDEE"), refused);
  EXPECT_EQ(storage::GetSettingText("IDC_PHONE"), L"375290000000") << "a refused request changes nothing";
  EXPECT_EQ(Body(query + "&token=0123456789ABCDEF0123456789ABCDEF"), answered);
}

TEST_F(WebApiTest, PhoneThatCountsIsStoredAndSaved) {
  storage::SetSettingText("IDC_PHONE", L"375290000000");
  Body("request=info&number=1&phone=37529123456&callback=cb");        // 11 digits
  Body("request=info&number=1&phone=375281234567&callback=cb");       // below 375291000000
  EXPECT_EQ(storage::GetSettingText("IDC_PHONE"), L"375290000000");
  Body(std::string("request=info&number=1&phone=") + kPhone + "&callback=cb");
  EXPECT_EQ(storage::GetSettingText("IDC_PHONE"), L"375291234567");
  storage::LoadSettings();
  EXPECT_EQ(storage::GetSettingText("IDC_PHONE"), L"375291234567") << "saved";
}

TEST_F(WebApiTest, UpdateStoresThePairsAndRestartsTheWorkOnTheWindowThread) {
  std::atomic<int> restarts{0};
  web::SetSettingsChangedHook([&restarts] { ++restarts; });
  storage::SetSettingText("IDC_BRANCH", L"0042");
  const std::string update = std::string("request=update&phone=") + kPhone + "&callback=cb&data=";
  const std::string longName(130, 'X');
  // Asterisks keep the password; "0000" is no branch; a name longer than
  // any setting's is left out; "%" without two digits stays.
  EXPECT_EQ(Body(update + "%7BIDC_PASS%7D%7B************%7D%7BIDC_BRANCH%7D%7B0000%7D%7BIDC_SERVICE%7D%7B1%7D"
                          "%7BIDC_" + longName + "%7D%7Bv%7D%7BIDC_PATH%7D%7BD:%5C%D0%9E%D0%B1%D0%BC%D0%B5%D0%BD"
                          "%5C%7D{IDC_NAME}{100%zz%}"),
            "cb({\"message\" :\"Реквизит <Код филиала> не соответствует формату 9999.Реквизит не сохранен.\"})");
  EXPECT_EQ(storage::GetSettingText("IDC_PASS"), L"12345678");
  EXPECT_EQ(storage::GetSettingText("IDC_BRANCH"), L"0042");
  EXPECT_EQ(storage::GetSettingInt("IDC_SERVICE"), 1);
  EXPECT_EQ(storage::FindSetting("IDC_" + longName.substr(0, 123)), -1);
  EXPECT_EQ(storage::GetSettingText("IDC_PATH"), L"D:\\Обмен\\");
  EXPECT_EQ(storage::GetSettingText("IDC_NAME"), L"100%zz%");
  EXPECT_EQ(restarts, 0) << "not on the worker";
  platform::ui::RunPostedForTest();
  EXPECT_EQ(restarts, 1);

  EXPECT_EQ(Body(update + "{IDC_BRANCH}{}{IDC_PASS}{87654321}"), "cb({\"message\" :\"Настройки сохранены.\"})");
  EXPECT_EQ(storage::GetSettingText("IDC_BRANCH"), L"");
  EXPECT_EQ(storage::GetSettingText("IDC_PASS"), L"87654321");
  storage::LoadSettings();
  EXPECT_EQ(storage::GetSettingText("IDC_PASS"), L"87654321") << "saved";

  // Megabytes of data store nothing and restart nothing.
  platform::ui::RunPostedForTest();
  restarts = 0;
  EXPECT_EQ(Body(update + "{IDC_PATH}{" + std::string(3 << 20, 'a') + "}"),
            "cb({\"message\" :\"Слишком много данных. Настройки не сохранены.\"})");
  platform::ui::RunPostedForTest();
  EXPECT_EQ(restarts, 0);
  EXPECT_EQ(storage::GetSettingText("IDC_PATH"), L"D:\\Обмен\\");
  web::SetSettingsChangedHook(nullptr);
}

TEST_F(WebApiTest, HostileSenderNamesStayInsideTheirStrings) {
  const std::string hostile = "ООО \"Кавычка\\\" });alert(1);//\r\n\t\x01</script>\xE2\x80\xA8";
  const std::string escaped = "ООО \\\"Кавычка\\\\\\\" });alert(1);//\\r\\n\\t\\u0001</script>\\u2028";
  // A line break of the name is a line break of the description.
  const std::string escapedInfo = "ООО \\\"Кавычка\\\\\\\" });alert(1);//<BR>\\t\\u0001</script>\\u2028";
  // Received 2026-01-01 00:00:00 UTC.
  storage::NewMessage request{.idm = 501, .dateIn = 1767225600, .senderUNP = 190000009, .senderBranch = 7,
                              .senderName = hostile, .type = storage::kMessageCertificateRequest,
                              .message = {}, .number = {}, .expire = 0};
  ASSERT_EQ(storage::InsertMessage(request), 0);
  storage::RebuildMessageList();

  const std::string phone = std::string("&phone=") + kPhone;
  EXPECT_EQ(Body("request=getdocuments&callback=cb" + phone),
            "cb({\"documents\" :[{ \"Number\": \"501\",\"Info\" : \"\", \"Buttons\" : 0, \"TimeIn\": \"2026-01-01 "
            "00:00:00\", \"UNP\" : \"190000009\", \"Type\" :2,\"Name\" : \"" + escaped + "\", \"Status\" :1}]})");
  EXPECT_EQ(Body("request=info&number=501&callback=cb"),
            "cb({\"Info\" : \"Отправитель: " + escapedInfo +
                "<BR>УНП: 190000009 Код филиала:7<BR>Документ: Запрос на получение СОК для подписания соглашения об "
                "обмене электронными документами<BR><BR>При нажатии на кнопку \\\"Подписать\\\" Отправителю будет "
                "отправлен Ваш сертификат <BR>открытого ключа для обмена электронными документами.<BR> Соглашение "
                "будет передано Вам на бумажном носителе.\", \"Buttons\" :51, \"Number\" : \"501\"})");
}

TEST_F(WebApiTest, TheWholeListFollowsEveryChangeOfTheTable) {
  const std::string query = std::string("request=getdocuments&callback=cb&phone=") + kPhone;
  auto statusOf = [&query](int32_t idm) {
    const std::string body = Body(query);
    const size_t item = body.find("\"Number\": \"" + std::to_string(idm) + "\"");
    if (item == std::string::npos) return std::string("absent");
    const size_t status = body.find("\"Status\" :", item) + 10;
    return body.substr(status, body.find('}', status) - status);
  };
  storage::NewMessage message{.idm = 11, .dateIn = 1767225600, .senderName = "ООО Образец",
                              .type = storage::kMessageDocument, .message = {}, .number = {}, .expire = 0};
  ASSERT_EQ(storage::InsertMessage(message), 0);
  EXPECT_EQ(statusOf(11), "1");
  EXPECT_EQ(statusOf(11), "1") << "asked again unchanged";

  // Another program (the support tool) changes the table.
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open((program.path + "TS.db").c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "UPDATE Messages SET status = 2 WHERE idm = 11", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(other);
  EXPECT_EQ(statusOf(11), "2");

  // This process adds a row and signs it.
  message.idm = 12;
  message.dateIn += 60;
  ASSERT_EQ(storage::InsertMessage(message), 0);
  EXPECT_EQ(statusOf(12), "1");
  ASSERT_TRUE(storage::MarkDelivered(storage::MessageAt(0)->id, 121, 0, {}));
  EXPECT_EQ(statusOf(12), "3");

  // A database opened afresh starts its counts again: nothing of the old one is answered.
  storage::CloseDatabase();
  test_support::TempFolder fresh;
  ASSERT_TRUE(storage::OpenDatabase(fresh.path + "TS.db", storage::kSchemaScript));
  EXPECT_EQ(statusOf(11), "absent");
  storage::CloseDatabase();
  ASSERT_TRUE(storage::OpenDatabase(program.path + "TS.db", storage::kSchemaScript));
}

TEST_F(WebApiTest, ManyRequestsAtOnceShareTheSettingsAndTheList) {
  std::atomic<int> restarts{0};
  web::SetSettingsChangedHook([&restarts] { ++restarts; });
  storage::NewMessage message{.idm = 7, .senderName = "ООО Образец", .type = storage::kMessageCertificateRequest,
                              .message = {}, .number = {}, .expire = 0};
  ASSERT_EQ(storage::InsertMessage(message), 0);
  const char* const queries[] = {
      "request=settings&callback=cb",
      "request=getdocuments&callback=cb&phone=375291111111",
      "request=update&callback=cb&phone=375292222222&data={IDC_FACE}{Петрова}{IDC_SERVICE}{0}",
      "request=info&number=7&callback=cb",
      "callback=cb",
  };
  std::vector<std::thread> workers;
  for (int t = 0; t < 10; ++t) {
    workers.emplace_back([t, &queries] {
      for (int i = 0; i < 10; ++i) EXPECT_EQ(Body(queries[(t + i) % 5]).rfind("cb({", 0), 0u);
    });
  }
  for (int i = 0; i < 20; ++i) platform::ui::RunPostedForTest();  // the window's thread meanwhile
  for (std::thread& worker : workers) worker.join();
  platform::ui::RunPostedForTest();
  EXPECT_EQ(restarts, 20) << "one restart per update";
  EXPECT_EQ(storage::GetSettingText("IDC_FACE"), L"Петрова");
  web::SetSettingsChangedHook(nullptr);
}

}  // namespace
}  // namespace web_test
