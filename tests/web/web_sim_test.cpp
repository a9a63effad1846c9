// The web page's commands against the simulator: fetching with the
// documents answer, the registration prompt and the page's agreement,
// showing and saving, and signatures and refusals that reach the server
// once and only for an unanswered document.
#include <sqlite3.h>

#include <thread>

#include "core/client_state.h"
#include "core/text.h"
#include "exchange/document.h"
#include "exchange/intake.h"
#include "exchange/session.h"
#include "shell/status.h"
#include "storage/database.h"
#include "storage/messages.h"
#include "storage/settings.h"
#include "web_test.h"

namespace web_test {
namespace {

const std::string kWithPhone = std::string("&phone=") + kPhone + "&callback=cb";

class WebSimTest : public WebTest {
 protected:
  void SetUp() override {
    WebTest::SetUp();
    StartSim();
    ASSERT_TRUE(exchange::CTS(nullptr));
  }

  int32_t SendDocument(const std::string& content) {
    return Inject(exchange_test::json{{"from", "alpha"}, {"to", "beta"}, {"type", 52}, {"content", content}})["idm"]
        .get<int32_t>();
  }

  static std::string On(const std::string& command, int32_t idm, const std::string& more = "") {
    return Body("request=" + command + "&number=" + std::to_string(idm) + more + kWithPhone);
  }

  int64_t Replies() const { return Counter("requests.53") + Counter("requests.153") + Counter("requests.56"); }
};

TEST_F(WebSimTest, GetmessagesFetchesAndListsTheDocuments) {
  const int32_t idm = SendDocument("<html><p>Счет 17</p>\r\n</html>");
  const std::string answer = Body("request=getmessages" + kWithPhone);
  const storage::MessageEntry entry = EntryOfIdm(idm);
  const std::string item = "{ \"Number\": \"" + std::to_string(idm) + "\",\"Info\" : \"\", \"Buttons\" : 0, \"TimeIn\": \"" +
                           core::ToNarrow(storage::FormatMessageDate(entry.dateIn), core::kCodePageUtf8) +
                           "\", \"UNP\" : \"" + std::to_string(entry.senderUNP) + "\", \"Type\" :1,\"Name\" : \"" +
                           core::ToNarrow(entry.senderName, core::kCodePageUtf8) + "\", \"Status\" :1}";
  EXPECT_EQ(answer, "cb({\"message\" :\"Получено новых сообщений - 1\",\"documents\" :[" + item + "]})");
  EXPECT_EQ(Body("request=getmessages" + kWithPhone),
            "cb({\"message\" :\"Нет новых сообщений\",\"documents\" :[" + item + "]})");
  EXPECT_EQ(Body("request=getdocuments" + kWithPhone), "cb({\"documents\" :[" + item + "]})");
  // A list that runs out soon is said after the message.
  shell::SetValidityWarning(L"Срок действия СОС истекает через 1 дн. Обновите СОС.");
  EXPECT_EQ(Body("request=getmessages" + kWithPhone),
            "cb({\"message\" :\"Нет новых сообщений<BR>Срок действия СОС истекает через 1 дн. Обновите СОС.\","
            "\"documents\" :[" + item + "]})");
  shell::SetValidityWarning(L"");

  const std::string shown = On("show", idm);
  EXPECT_EQ(shown.rfind("cb({\"html\" :\"<html><p>Счет 17</p></html><BR>", 0), 0u) << shown;
  EXPECT_EQ(shown.find_first_of("\r\n"), std::string::npos);
  EXPECT_EQ(On("unload", idm), "cb({\"message\" :\"Электронный документ сохранен " +
                                   exchange::SavedDocumentPath(Row(entry.id).number) + "\"})");
}

// Years of documents: the page reads a page of the list, and a document
// deep in it is found and signed by its identifier.
TEST_F(WebSimTest, AHundredThousandRowsArePagedAndADocumentDeepInThemIsSigned) {
  const int32_t idm = SendDocument("<html>Акт 100001</html>");
  Body("request=getmessages" + kWithPhone);
  // Written straight into the table: 50 000 rows newer than the document,
  // 50 000 older.
  ASSERT_EQ(sqlite3_exec(storage::Database(),
                         "WITH RECURSIVE n(x) AS (SELECT 0 UNION ALL SELECT x + 1 FROM n WHERE x < 99999) "
                         "INSERT INTO Messages (idm, dateIn, senderUNP, senderBranch, senderName, type, status, message) "
                         "SELECT 5000000 + x, CASE WHEN x < 50000 THEN 4000000000 + x ELSE 1000000000 + x END, "
                         "190000001, 0, 'ООО Альфа', 52, 0, x'00' FROM n",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  exchange::LoadMessagesFromBase();
  ASSERT_EQ(storage::MessageCount(), 100001u);
  const std::string page = Body("request=getdocuments&offset=49998&count=4" + kWithPhone);
  EXPECT_EQ(page.rfind("cb({\"total\" :100001,\"documents\" :[", 0), 0u) << page.substr(0, 80);
  std::vector<std::string> numbers;
  for (size_t at = page.find("\"Number\": \""); at != std::string::npos; at = page.find("\"Number\": \"", at + 1)) {
    numbers.push_back(page.substr(at + 11, page.find('"', at + 11) - at - 11));
  }
  EXPECT_EQ(numbers, (std::vector<std::string>{"5000001", "5000000", std::to_string(idm), "5099999"}));
  for (const char* bad : {"offset=-1", "count=0", "count=1001", "offset=x"}) {
    EXPECT_EQ(Body(std::string("request=getdocuments&") + bad + kWithPhone),
              "cb({\"message\" :\"Неверная страница списка: offset от 0, count от 1 до 1000\"})")
        << bad;
  }
  EXPECT_EQ(On("sign", idm), "cb({\"message\" :\"Сообщение отправлено Отправителю<BR>\", \"operation\" :\"Ok\"})");
  EXPECT_EQ(Replies(), 1);
  EXPECT_EQ(storage::MessageAt(50000)->status, storage::kStatusSigned);
}

TEST_F(WebSimTest, TwoSignaturesOfOneDocumentAtOnceSendOnce) {
  const int32_t idm = SendDocument("<html>Договор 5</html>");
  Body("request=getmessages" + kWithPhone);
  std::string answers[2];
  std::thread first([&] { answers[0] = On("sign", idm); });
  std::thread second([&] { answers[1] = On("sign", idm); });
  first.join();
  second.join();
  const std::string sent = "cb({\"message\" :\"Сообщение отправлено Отправителю<BR>\", \"operation\" :\"Ok\"})";
  // Both report the row as signed; only one sent it.
  const std::string already = "cb({\"message\" :\"Сообщение уже подписано !!!<BR>\", \"operation\" :\"Ok\"})";
  EXPECT_TRUE((answers[0] == sent && answers[1] == already) || (answers[0] == already && answers[1] == sent))
      << answers[0] << "\n" << answers[1];
  EXPECT_EQ(Replies(), 1);
  EXPECT_EQ(Row(EntryOfIdm(idm).id).status, storage::kStatusSigned);
  EXPECT_EQ(On("reject", idm, "&rejectcode=121"), "cb({\"message\" :\"Сообщение уже подписано !!!<BR>\"})");
  EXPECT_EQ(Replies(), 1);
  EXPECT_NE(On("info", idm).find("\"Buttons\" :30, \"Number\""), std::string::npos);
}

TEST_F(WebSimTest, RefusalOnlyWithAChoosableCodeAndOnlyOnce) {
  const int32_t idm = SendDocument("<html>Акт 9</html>");
  Body("request=getmessages" + kWithPhone);
  const storage::MessageEntry entry = EntryOfIdm(idm);
  for (const char* code : {"", "&rejectcode=0", "&rejectcode=115", "&rejectcode=377", "&rejectcode=12x"}) {
    EXPECT_NE(On("reject", idm, code).find("Документ не отклонен"), std::string::npos) << code;
  }
  EXPECT_EQ(Replies(), 0);
  EXPECT_EQ(Row(entry.id).status, storage::kStatusReceived);

  EXPECT_EQ(On("reject", idm, "&rejectcode=192"),
            "cb({\"message\" :\"Сообщение отправлено Отправителю<BR>\", \"operation\" :\"Ok\"})");
  EXPECT_EQ(Row(entry.id).status, 192);
  // A refused document is neither signed nor refused again.
  EXPECT_EQ(On("sign", idm), "cb({\"message\" :\"Документ уже отклонен<BR>\"})");
  EXPECT_EQ(On("reject", idm, "&rejectcode=199"),
            "cb({\"message\" :\"Документ уже отклонен<BR>\", \"operation\" :\"Ok\"})");
  EXPECT_EQ(Replies(), 1);
  EXPECT_EQ(On("info", idm), "cb({\"Info\" : \"Отправитель: " + core::ToNarrow(entry.senderName, core::kCodePageUtf8) +
                                 "<BR>УНП: " + std::to_string(entry.senderUNP) +
                                 "<BR>Документ: Электронный документ<BR><BR><BR>Отказано в подписании электронного "
                                 "документа.<BR>Неизвестный отправитель<BR><BR>\", \"Buttons\" :30, \"Number\" : \"" +
                                 std::to_string(idm) + "\"})");
}

using WebRegistrationTest = WebTest;

TEST_F(WebRegistrationTest, PromptThenThePagesAgreementRegisters) {
  StartSim({}, false);
  crypto::CertificateEntry own;
  ASSERT_TRUE(crypto::GetSelectedEntry(&own));
  storage::SetSettingText("IDC_BRANCH", L"0003");
  EXPECT_EQ(Body("request=getmessages" + kWithPhone),
            "cb({\"AGREEMENT\" :\" Для получения сообщений будет произведена регистрация следующего субъекта:<BR>" +
                core::ToNarrow(own.subjectName, core::kCodePageUtf8) + "<BR>УНП:<span id=\\\"UNP\\\">" +
                core::ToNarrow(own.unpText, core::kCodePageUtf8) +
                "</span><BR>Код филиала:<span id=\\\"BRANCH\\\">0003</span><BR><BR><strong><span "
                "style=\\\"color:red\\\">Внимание !!! Изменить субъекта можно только повторно оплатив "
                "услугу.</span></strong><BR><BR> Нажимая кнопку Да подтверждаю, что прочитал и согласен с условиями "
                "ПРАВИЛ и согласен произвести регистрацию вышеуказанного субъекта<BR>\"})");
  EXPECT_EQ(Counter("organisations.registered"), 0);
  EXPECT_EQ(Body("request=register" + kWithPhone), "cb({\"message\" :\"Нет новых сообщений\",\"documents\" :[]})");
  EXPECT_EQ(Counter("organisations.registered"), 1);
  EXPECT_EQ(core::GetClientState(), core::kStateReady);
}

}  // namespace
}  // namespace web_test
