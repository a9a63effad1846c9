// The timers' rules that need no server: one folder pass at a time, the
// heartbeat, a new day, hiding without input, the exchange button by
// client state.
#include "shell/work.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <chrono>
#include <thread>

#include "core/client_state.h"
#include "core/folders.h"
#include "crypto/certificates.h"
#include "exchange/session.h"
#include "platform/clock.h"
#include "platform/ui.h"
#include "shell/main_window.h"
#include "shell/status.h"
#include "shell/window_commands.h"
#include "storage/database.h"
#include "storage/settings.h"
#include "test_support.h"

namespace {

namespace ui = platform::ui;

class WorkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::ResetForTest();
    ui::CreateMainWindow(L"Tessarin", 600, 600);
    ASSERT_TRUE(storage::OpenDatabase(program.path + "TS.db", storage::kSchemaScript));
    storage::LoadSettings();
    core::SetProgramFolder(program.path);
    shell::RememberStartDay(platform::LocalNow().day);
  }
  void TearDown() override {
    shell::ResetWorkForTest();
    platform::SetClockShiftForTest(0);
    core::SetClientState(core::kStateReady);
    core::SetFolderBusy(false);
    storage::CloseDatabase();
    ui::ResetForTest();
  }
  test_support::ScopedLogFolder logs;
  test_support::TempFolder program;
};

// Runs body until it returns true, at most 10 s.
bool WaitUntil(const std::function<bool()>& body) {
  for (int i = 0; i < 2000; ++i) {
    if (body()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

TEST_F(WorkTest, AFolderPassLongerThanATickIsNotStartedTwice) {
  std::atomic<int> started{0};
  std::atomic<int> ended{0};
  std::atomic<bool> release{false};
  shell::SetFolderPass([&]() {
    core::SetFolderBusy(true);
    ++started;
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    core::SetFolderBusy(false);
    ++ended;
  });
  shell::TimerService();
  ASSERT_TRUE(WaitUntil([&]() { return started == 1; }));
  for (int tick = 0; tick < 3; ++tick) shell::TimerService();
  EXPECT_EQ(started, 1);

  release = true;
  ASSERT_TRUE(WaitUntil([&]() { return ended == 1; }));
  // The next pass begins at a tick once the thread has ended.
  EXPECT_TRUE(WaitUntil([&]() {
    shell::TimerService();
    return started == 2;
  }));
}

TEST_F(WorkTest, EachTickWritesTheHeartbeatIntoTheExchangeFolder) {
  test_support::TempFolder exchangeFolder;
  shell::TimerService();
  EXPECT_TRUE(test_support::ListTree(exchangeFolder.path).empty());
  storage::SetSettingText("IDC_PATH", std::wstring(exchangeFolder.path.begin(), exchangeFolder.path.end()));
  core::SetClientState(core::kStateNoLink);
  shell::TimerService();
  std::vector<uint8_t> record = test_support::ReadBytes(exchangeFolder.path + "state.txt");
  ASSERT_EQ(record.size(), 7u);
  EXPECT_EQ(record[6], core::kStateNoLink);
}

TEST_F(WorkTest, TheHeartbeatFolderGetsItsSeparatorAndAnEmptyPathNamesNoFolder) {
  test_support::TempFolder exchangeFolder;
  std::string bare = exchangeFolder.path.substr(0, exchangeFolder.path.size() - 1);
  storage::SetSettingText("IDC_PATH", std::wstring(bare.begin(), bare.end()));
  shell::TimerService();
  EXPECT_EQ(test_support::ReadBytes(exchangeFolder.path + "state.txt").size(), 7u);
  EXPECT_FALSE(std::filesystem::exists(bare + "state.txt"));

  test_support::TempFolder current;
  std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(current.path);
  storage::SetSettingText("IDC_PATH", L"");
  shell::TimerService();
  std::filesystem::current_path(before);
  EXPECT_TRUE(test_support::ListTree(current.path).empty());
}

TEST_F(WorkTest, ANewDayRenewsTheDayFolderAndForgetsTheServiceStatus) {
  std::filesystem::create_directory(program.path + "working");
  exchange::SetServiceStatus(3);
  exchange::SetUpdateChecked(true);
  shell::NewDayCheck();
  EXPECT_EQ(exchange::ServiceStatus(), 3) << "the same day changes nothing";

  platform::SetClockShiftForTest(24 * 3600);
  shell::NewDayCheck();
  platform::CalendarTime tomorrow = platform::LocalNow();
  char date[16];
  std::snprintf(date, sizeof(date), "%d%02d%02d", tomorrow.year, tomorrow.month, tomorrow.day);
  EXPECT_EQ(core::WorkingDayFolder(), program.path + "working/" + date + "/");
  EXPECT_TRUE(std::filesystem::is_directory(core::WorkingDayFolder()));
  EXPECT_EQ(exchange::ServiceStatus(), 0);
  EXPECT_FALSE(exchange::UpdateChecked());
}

TEST_F(WorkTest, TheWindowHidesAfterAMinuteWithoutInput) {
  ui::ShowMainWindow(ui::Show::Normal);
  ui::NoteUserInput();
  shell::WaitUserInput();
  EXPECT_EQ(ui::TimerPeriod(shell::kTimerUser), shell::kUserPeriodMs);
  platform::SetClockShiftForTest(50);
  ui::FireTimerForTest(shell::kTimerUser);
  EXPECT_TRUE(ui::MainWindowVisible());
  platform::SetClockShiftForTest(61);
  ui::FireTimerForTest(shell::kTimerUser);
  EXPECT_FALSE(ui::MainWindowVisible());
  EXPECT_FALSE(ui::TimerRunning(shell::kTimerUser));
}

TEST_F(WorkTest, TheWindowShownByASecondStartDoesNotHideAtTheNextCheck) {
  ui::SetTrayHandler(&shell::OnTrayNotify);
  ui::NoteUserInput();
  platform::SetClockShiftForTest(3600);  // an hour without input, hidden
  ui::ReceiveHandOver();
  ui::RunPostedForTest();
  ASSERT_TRUE(ui::MainWindowVisible());
  platform::SetClockShiftForTest(3610);
  ui::FireTimerForTest(shell::kTimerUser);
  EXPECT_TRUE(ui::MainWindowVisible());
}

TEST_F(WorkTest, TheExchangeButtonRetriesAfterARevocationProblemButNotWithAnInvalidCertificate) {
  storage::SetSettingText("IDC_EMAIL", L"org@example.by");
  core::SetClientState(core::kStateCrlProblem);
  shell::OnCommand(shell::kCommandExchange);
  EXPECT_EQ(core::GetClientState(), core::kStateReady);
  core::SetClientState(core::kStateCertificateInvalid);
  shell::OnCommand(shell::kCommandExchange);
  EXPECT_EQ(core::GetClientState(), core::kStateCertificateInvalid);
}

TEST_F(WorkTest, WithoutACertificateStartWorkFailsAndShowsTheButtonDisabled) {
  EXPECT_FALSE(shell::StartWork());
  ui::ControlsState controls = ui::Controls();
  EXPECT_TRUE(controls.listVisible);
  EXPECT_TRUE(controls.buttonVisible);
  EXPECT_FALSE(controls.buttonEnabled);
  storage::SetSettingInt("IDC_SERVICE", 1);
  EXPECT_FALSE(shell::StartWork());
  EXPECT_FALSE(ui::Controls().listVisible);
  EXPECT_FALSE(ui::Controls().buttonVisible);
  EXPECT_FALSE(ui::TimerRunning(shell::kTimerService));
}

TEST_F(WorkTest, ACertificateThatLeftTheStoreLeavesNoneSelected) {
  test_support::TempFolder store;
  std::filesystem::copy(std::string(AIS_SIM_TEST_PKI), store.path, std::filesystem::copy_options::recursive);
  setenv("TESSARIN_CERTSTORE", store.path.c_str(), 1);
  ASSERT_GT(crypto::ListCertificates(), 1);
  // An earlier start of work selected beta; then its files left the store.
  int beta = -1;
  crypto::CertificateEntry entry;
  for (int i = 0; i < crypto::CertificateCount(); ++i) {
    if (crypto::GetCertificateEntry(i, &entry) && entry.subjectName.find(L"Бета") != std::wstring::npos) beta = i;
  }
  ASSERT_GE(beta, 0);
  ASSERT_TRUE(crypto::GetCertificateEntry(beta, &entry));
  crypto::SelectCertificate(beta);
  storage::SetSettingText("IDC_CERT", entry.keyIdText);
  for (const char* file : {"beta.cer", "beta.pem", "beta.key"}) std::filesystem::remove(store.path + "My/" + file);

  EXPECT_FALSE(shell::StartWork());
  EXPECT_EQ(crypto::SelectedCertificate(), -1);
  EXPECT_FALSE(ui::Controls().buttonEnabled);
  crypto::SelectCertificate(-1);
  unsetenv("TESSARIN_CERTSTORE");
}

TEST_F(WorkTest, ACertificateOrListRunningOutWarnsInTheTipTheStatusListAndOneBalloonADay) {
  // The thresholds: a certificate warns from 29 days left, a list from 1.
  constexpr int64_t kDay = 864000000000LL;
  int64_t now = platform::FileTimeNow();
  exchange::ValidityOutlook outlook;
  outlook.certificate = true;
  outlook.certificateEnds = now + 30 * kDay + kDay / 2;
  outlook.revocationList = true;
  outlook.listNextUpdate = now + 2 * kDay + kDay / 2;
  EXPECT_EQ(exchange::ValidityWarning(outlook, now), L"");
  outlook.certificateEnds = now + 29 * kDay + kDay / 2;
  outlook.listNextUpdate = now + kDay + kDay / 2;
  EXPECT_EQ(exchange::ValidityWarning(outlook, now),
            L"Срок действия выбранного сертификата истекает через 29 дн. "
            L"Срок действия СОС истекает через 1 дн. Обновите СОС.");
  outlook.certificateEnds = now + 40 * kDay;
  outlook.listNextUpdate = now - kDay / 2;
  EXPECT_EQ(exchange::ValidityWarning(outlook, now), L"Срок действия СОС истек 1 дн. назад. Обновите СОС.");

  // "ten": its issuer's list ran out in 2021.
  test_support::TempFolder store;
  std::filesystem::copy(std::string(AIS_SIM_TEST_PKI), store.path, std::filesystem::copy_options::recursive);
  setenv("TESSARIN_CERTSTORE", store.path.c_str(), 1);
  ASSERT_GT(crypto::ListCertificates(), 1);
  crypto::CertificateEntry entry;
  for (int i = 0; i < crypto::CertificateCount(); ++i) {
    if (crypto::GetCertificateEntry(i, &entry) && entry.subjectName.find(L"Десятка") != std::wstring::npos) {
      crypto::SelectCertificate(i);
    }
  }
  ASSERT_GE(crypto::SelectedCertificate(), 0);
  ui::ShowMainWindow(ui::Show::Normal);
  int balloons = ui::Tray().balloons;
  shell::WarnOfValidity();
  std::wstring warning = shell::ValidityWarningText();
  EXPECT_NE(warning.find(L"Срок действия СОС истек"), std::wstring::npos) << warning.size();
  EXPECT_EQ(ui::Tray().balloons, balloons + 1);
  EXPECT_EQ(ui::Tray().balloonText, warning);
  EXPECT_NE(ui::Tray().tip.find(warning.substr(0, 20)), std::wstring::npos);
  ASSERT_FALSE(ui::StatusListLines().empty());
  EXPECT_NE(ui::StatusListLines().front().find(warning), std::wstring::npos);
  // The next start of work the same day says it again, without a balloon.
  shell::WarnOfValidity();
  EXPECT_EQ(ui::Tray().balloons, balloons + 1);
  crypto::SelectCertificate(-1);
  unsetenv("TESSARIN_CERTSTORE");
}

}  // namespace
