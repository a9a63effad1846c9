// The session with the simulator: registration and its refusal, the link
// check with its attempts and branches, the service status, the
// certificate and key-medium checks.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "core/client_state.h"
#include "exchange/intake.h"
#include "exchange/reply.h"
#include "exchange/session.h"
#include "exchange_fixture.h"
#include "loopback_server.h"
#include "platform/clock.h"
#include "platform/ui.h"
#include "storage/settings.h"

namespace fs = std::filesystem;

namespace exchange_test {
namespace {

using SessionTest = ExchangeTest;

TEST_F(SessionTest, DeclinedRegistrationHandShakesOnceAndSendsNoProbe) {
  StartSim({}, false);
  EXPECT_FALSE(exchange::CTS(nullptr));
  EXPECT_EQ(core::GetClientState(), core::kStateRegistrationDeclined);
  EXPECT_FALSE(exchange::Connected());
  EXPECT_EQ(Counter("requests.177"), 1);
  EXPECT_EQ(Counter("requests.3"), 0);
  EXPECT_EQ(Counter("requests.40"), 0);
  EXPECT_FALSE(platform::ui::TimerRunning(exchange::kTimerLink)) << "no retries while registration is declined";

  // Later checks ask nothing again and send nothing at all.
  std::vector<uint8_t> list;
  EXPECT_FALSE(exchange::CTS(&list));
  EXPECT_EQ(exchange::ClientGetMessagesFromServer(), 0);
  EXPECT_EQ(Counter("requests.177"), 1);
  EXPECT_EQ(Counter("requests"), 1);
  EXPECT_EQ(sim->Get("/organisations").body.size(), 1u) << "only alpha is known";
}

TEST_F(SessionTest, QuestionAnsweredNoShowsTheRefusal) {
  StartSim({}, false);
  ShowWindow();
  EXPECT_FALSE(exchange::StartExchangeWithServer());
  EXPECT_EQ(core::GetClientState(), core::kStateRegistrationDeclined);
  EXPECT_EQ(StatusLines().front(),
            L"Регистрация прервана пользователем. Для повторной регистрации нажмите кнопку <Получить сообщения>");
  EXPECT_EQ(platform::ui::Tray().balloonText, L"ООО Бета не зарегистрирован в АИС");
  // A declined client does not ask again.
  EXPECT_FALSE(exchange::StartExchangeWithServer());
  EXPECT_EQ(Counter("organisations.registered"), 0);
}

TEST_F(SessionTest, AgreedRegistrationRegistersAndOpensTheSession) {
  StartSim({}, false);
  ShowWindow();
  bool dialogShown = false;
  exchange::SetRegistrationDialog([&dialogShown] { dialogShown = true; });
  // The web page ran the registration and the user agreed there.
  exchange::SetWebInterfaceActive(true);
  exchange::SetRegistered(true);
  EXPECT_TRUE(exchange::StartExchangeWithServer());
  EXPECT_FALSE(dialogShown) << "the web page asks, not the window";
  EXPECT_TRUE(exchange::SessionOpen());
  EXPECT_EQ(Counter("organisations.registered"), 1);
  EXPECT_EQ(sim->Get("/organisations/beta").status, 200);
  std::vector<std::wstring> lines = StatusLines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[1], L"Регистрация прошла успешно");
  EXPECT_EQ(lines[0], L"Соединение с АИС успешно установлено.");
}

TEST_F(SessionTest, UnknownSessionAndDroppedProbeBothLeadToANewHandshake) {
  StartSim();
  ASSERT_TRUE(exchange::CTS(nullptr));
  EXPECT_EQ(Counter("sessions.granted"), 1);
  EXPECT_EQ(exchange::ServiceStatus(), 3);

  // The server forgot the session: code 7, a new session, no retries.
  ASSERT_EQ(sim->Post("/sessions/expire").status, 200);
  EXPECT_TRUE(exchange::CTS(nullptr));
  EXPECT_EQ(Counter("sessions.granted"), 2);
  EXPECT_TRUE(exchange::Connected());

  // A probe whose connection is dropped reads as 255/7 too.
  ArmFault(json{{"action", "drop"}, {"type", 3}});
  const int64_t statusRequests = Counter("requests.3");
  EXPECT_TRUE(exchange::CTS(nullptr));
  EXPECT_EQ(Counter("sessions.granted"), 3);
  EXPECT_EQ(Counter("faults.drop"), 1);
  // Codes 7 cleared the service status; it was asked for again.
  EXPECT_EQ(exchange::ServiceStatus(), 3);
  EXPECT_GE(Counter("requests.3"), statusRequests + 2);
}

TEST_F(SessionTest, FirstRunAfterAFreshSessionStillFetchesTheList) {
  StartSim();
  auto send = [this](const std::string& content) {
    return Inject(json{{"from", "alpha"}, {"to", "beta"}, {"type", 52}, {"content", content}});
  };
  send("<html>Первый</html>");
  // No session yet: the run opens one and asks for the list all the same.
  EXPECT_EQ(exchange::ClientGetMessagesFromServer(), 1);
  send("<html>Второй</html>");
  ASSERT_EQ(sim->Post("/sessions/expire").status, 200);
  EXPECT_EQ(exchange::ClientGetMessagesFromServer(), 1) << "and after code 7";
  EXPECT_EQ(RowCount(), 2);
  EXPECT_TRUE(Mailbox("beta").empty());
}

TEST_F(SessionTest, IntakeAndAReplyMeetingCode7TogetherOpenOneSession) {
  StartSim();
  ASSERT_TRUE(exchange::CTS(nullptr));
  auto send = [this](const std::string& content) {
    return Inject(json{{"from", "alpha"}, {"to", "beta"}, {"type", 52}, {"content", content}});
  };
  json first = send("<html>Договор</html>");
  ASSERT_EQ(exchange::ClientGetMessagesFromServer(), 1);
  storage::MessageEntry entry = EntryOfIdm(first["idm"].get<int32_t>());
  send("<html>Счёт 1</html>");
  send("<html>Счёт 2</html>");
  const int64_t granted = Counter("sessions.granted");

  // The server forgets the session. The intake meets code 7 first; its new
  // session is held back at the server while the reply meets code 7 too.
  ASSERT_EQ(sim->Post("/sessions/expire").status, 200);
  ArmFault(json{{"action", "delay"}, {"type", 177}, {"ms", 3000}});
  int taken = -1;
  std::thread intake([&taken] { taken = exchange::ClientGetMessagesFromServer(); });
  EXPECT_TRUE(WaitFor([this] { return Counter("faults.delay") == 1; }));
  std::wstring replied = exchange::AnswerMessage(entry, false, 0);
  intake.join();

  EXPECT_EQ(Counter("sessions.granted"), granted + 1) << "one new session serves both";
  EXPECT_EQ(taken, 2);
  EXPECT_EQ(RowCount(), 3);
  EXPECT_TRUE(Mailbox("beta").empty());
  EXPECT_EQ(replied, L"Сообщение отправлено Отправителю<BR>");
  EXPECT_EQ(Row(entry.id).status, 2);
}

TEST_F(SessionTest, NothingWaitingCountsAsAWorkingLink) {
  StartSim();
  ShowWindow();
  ASSERT_TRUE(exchange::CTS(nullptr));
  std::vector<uint8_t> list{1, 2, 3};
  EXPECT_TRUE(exchange::CTS(&list));
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(StatusLines().front(), L"Нет сообщений");
}

TEST_F(SessionTest, ServiceStatusIsAskedOnceAndUpdateRequiredKeepsTheLink) {
  StartSim();
  ASSERT_EQ(sim->Post("/organisations/beta/service-code", json{{"code", 5}}).status, 200);
  ASSERT_TRUE(exchange::CTS(nullptr));
  EXPECT_EQ(exchange::ServiceStatus(), 5);
  EXPECT_NE(NormalLog().find("SoS - 5"), std::string::npos);
  const int64_t asked = Counter("requests.3");
  ASSERT_TRUE(exchange::CTS(nullptr));
  EXPECT_EQ(Counter("requests.3"), asked + 1) << "the probe only; the status is known";

  // A newer program is published: the server answers code 3, which keeps
  // the link and clears what the client knew of the service.
  ASSERT_EQ(sim->Post("/version", json{{"contentBase64", "AQIDBA=="}}).status, 201);
  exchange::SetUpdateChecked(true);
  EXPECT_TRUE(exchange::CTS(nullptr));
  EXPECT_TRUE(exchange::Connected());
  EXPECT_FALSE(exchange::UpdateChecked());
  EXPECT_EQ(exchange::ServiceStatus(), 0);
}

TEST_F(SessionTest, TheUpdateCheckRunsBeforeTheStatusRequestAndAgainWhenItIsRefusedWithCode3) {
  StartSim();
  std::vector<int64_t> asked;  // status requests sent before each check
  exchange::SetUpdateCheck([&] { asked.push_back(Counter("requests.3")); });
  ASSERT_TRUE(exchange::CTS(nullptr));
  EXPECT_EQ(asked, std::vector<int64_t>{0});
  // Found current: the next link check runs no update check.
  exchange::SetUpdateChecked(true);
  exchange::SetServiceStatus(0);
  ASSERT_TRUE(exchange::CTS(nullptr));
  EXPECT_EQ(asked.size(), 1u);

  // A newer program: the probe's code 3 clears the flag, the check runs
  // before the status request, whose code 3 runs it once more.
  ASSERT_EQ(sim->Post("/version", json{{"contentBase64", "AQIDBA=="}}).status, 201);
  ASSERT_TRUE(exchange::CTS(nullptr));
  const int64_t probes = Counter("requests.3") - 1;
  EXPECT_EQ(asked, (std::vector<int64_t>{0, probes, probes + 1}));
}

TEST_F(SessionTest, NoServerMeansState3AndTheRetryTimerUntilTheLinkIsBack) {
  ShowWindow();
  int retries = 0;
  exchange::SetLinkTimerTask([&retries] { ++retries; });
  setenv("TESSARIN_SERVER", ("127.0.0.1:" + std::to_string(link_test::FreePort())).c_str(), 1);
  EXPECT_FALSE(exchange::CTS(nullptr));
  EXPECT_EQ(core::GetClientState(), core::kStateNoLink);
  EXPECT_TRUE(platform::ui::TimerRunning(exchange::kTimerLink));
  EXPECT_EQ(platform::ui::TimerPeriod(exchange::kTimerLink), 30000);
  EXPECT_EQ(platform::ui::Tray().balloonText, L"Нет связи с АИС");
  EXPECT_EQ(StatusLines().front(), L"Нет связи с АИС");
  ASSERT_TRUE(platform::ui::FireTimerForTest(exchange::kTimerLink));
  EXPECT_EQ(retries, 1) << "the shell's task runs on the timer";

  StartSim();
  EXPECT_TRUE(exchange::CTS(nullptr));
  EXPECT_EQ(core::GetClientState(), core::kStateReady);
  EXPECT_FALSE(platform::ui::TimerRunning(exchange::kTimerLink));
  EXPECT_NE(NormalLog().find("Установлена связь с АИС"), std::string::npos);
}

TEST_F(SessionTest, ClockOutOfSyncStopsTheExchange) {
  StartSim();
  ASSERT_EQ(sim->Post("/clock", json{{"shift", 4000}}).status, 200);
  EXPECT_FALSE(exchange::CTS(nullptr));
  EXPECT_EQ(core::GetClientState(), core::kStateClockOutOfSync);
  EXPECT_FALSE(platform::ui::TimerRunning(exchange::kTimerLink));
  EXPECT_FALSE(exchange::CTS(nullptr));
  EXPECT_EQ(Counter("requests.177"), 1);
}

TEST_F(SessionTest, MissingKeyMediumCountsFailuresUntilState2) {
  const std::string key = store.path + "My/beta.key";
  const std::string aside = store.path + "beta.key.aside";
  fs::rename(key, aside);
  int rechecks = 0;
  exchange::SetContainerTimerTask([&rechecks] { ++rechecks; });
  EXPECT_FALSE(exchange::CheckContainer());
  EXPECT_FALSE(exchange::CheckContainer());
  EXPECT_EQ(core::GetClientState(), core::kStateReady) << "two failures are not yet a missing medium";
  EXPECT_TRUE(platform::ui::TimerRunning(exchange::kTimerContainer));
  EXPECT_EQ(platform::ui::TimerPeriod(exchange::kTimerContainer), 5000);
  EXPECT_FALSE(exchange::CTS(nullptr)) << "no exchange without the key medium";
  EXPECT_EQ(exchange::ContainerFailures(), 3);
  EXPECT_EQ(core::GetClientState(), core::kStateNoKeyMedium);
  EXPECT_EQ(platform::ui::Tray().balloonText,
            L"Не установлен носитель с личным ключом или ошибка при чтении носителя");
  ASSERT_TRUE(platform::ui::FireTimerForTest(exchange::kTimerContainer));
  EXPECT_EQ(rechecks, 1);

  fs::rename(aside, key);
  EXPECT_TRUE(exchange::CheckContainer());
  EXPECT_EQ(core::GetClientState(), core::kStateReady);
  EXPECT_EQ(exchange::ContainerFailures(), 0);
  EXPECT_FALSE(platform::ui::TimerRunning(exchange::kTimerContainer));
  EXPECT_NE(NormalLog().find("Носитель с личным ключом установлен"), std::string::npos);
}

TEST_F(SessionTest, CertificateCheckSetsTheStateOfEachFailure) {
  struct Case {
    const char* org;             // the certificate chosen
    int state;                   // the state after CheckCert
    const wchar_t* balloon;      // its balloon
  };
  const Case cases[] = {
      {"alpha", core::kStateReady, L""},
      {"revoked", core::kStateCertificateInvalid, L"Выбранный сертификат отозван"},
      {"ten", core::kStateCrlProblem, L"Для выбранного сертификата истек срок действия СОС. Обновите СОС."},
      {"other", core::kStateCrlProblem, L"Ошибка получения СОС или СОС не установлен"},
  };
  for (const Case& c : cases) {
    core::SetClientState(core::kStateReady);
    platform::ui::ResetForTest();
    UseCertificate(c.org);
    EXPECT_EQ(core::GetClientState(), c.state) << c.org;
    EXPECT_EQ(platform::ui::Tray().balloonText, c.balloon) << c.org;
  }

  core::SetClientState(core::kStateReady);
  platform::SetClockShiftForTest(40LL * 365 * 86400);
  EXPECT_TRUE(exchange::CheckCert());
  platform::SetClockShiftForTest(0);
  EXPECT_EQ(core::GetClientState(), core::kStateCertificateInvalid);
  EXPECT_EQ(platform::ui::Tray().balloonText, L"Выбранный сертификат не действителен");

  ShowWindow();
  storage::SetSettingText("IDC_CERT", std::wstring(40, L'0'));
  EXPECT_FALSE(exchange::CheckCert());
  EXPECT_EQ(StatusLines().front(), L"Для работы программы необходимо выбрать сертификат. Сервис->Настройка");
}

}  // namespace
}  // namespace exchange_test
