// The headless user interface: the loop, timers, posted work, window state.
#include "platform/ui.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

namespace ui = platform::ui;

class UiTest : public ::testing::Test {
 protected:
  void SetUp() override { ui::ResetForTest(); }
  void TearDown() override { ui::ResetForTest(); }
};

TEST_F(UiTest, TheLoopRunsWorkPostedFromOtherThreadsAndEndsWithTheQuitCode) {
  std::atomic<int> ran{0};
  std::thread other([&]() {
    for (int i = 0; i < 10; ++i) ui::Post([&]() { ++ran; });
    ui::Post([]() { ui::PostQuit(7); });
  });
  EXPECT_EQ(ui::RunMessageLoop(), 7);
  other.join();
  EXPECT_EQ(ran, 10);
}

TEST_F(UiTest, TimersRepeatUntilKilledAndCanBeFiredByHand) {
  int ticks = 0;
  ASSERT_TRUE(ui::SetTimer(1000, 10, [&]() {
    if (++ticks == 3) {
      ui::KillTimer(1000);
      ui::PostQuit(0);
    }
  }));
  EXPECT_EQ(ui::TimerPeriod(1000), 10);
  EXPECT_EQ(ui::RunMessageLoop(), 0);
  EXPECT_EQ(ticks, 3);
  EXPECT_FALSE(ui::TimerRunning(1000));

  int fired = 0;
  ui::SetTimer(1004, 10000, [&]() { ++fired; });
  EXPECT_TRUE(ui::FireTimerForTest(1004));
  EXPECT_FALSE(ui::FireTimerForTest(1001));
  EXPECT_EQ(fired, 1);
}

TEST_F(UiTest, SettingARunningTimerAgainRestartsItWithTheNewPeriod) {
  ui::SetTimer(1003, 30000, []() {});
  ui::SetTimer(1003, 300000, []() {});
  EXPECT_EQ(ui::TimerPeriod(1003), 300000);
}

TEST_F(UiTest, StatusListKeepsTheNewestLineOnTop) {
  ui::CreateMainWindow(L"Tessarin", 600, 600);
  ui::StatusListInsertTop(L"first");
  ui::StatusListInsertTop(L"second");
  EXPECT_EQ(ui::StatusListLines(), (std::vector<std::wstring>{L"second", L"first"}));
  ui::StatusListRemoveTop();
  EXPECT_EQ(ui::StatusListLines(), (std::vector<std::wstring>{L"first"}));
  ui::StatusListClear();
  EXPECT_TRUE(ui::StatusListLines().empty());
}

// Headless only: on Windows a message box waits for its user.
#ifndef _WIN32
TEST_F(UiTest, AQuestionTakesItsDefaultAnswerNo) {
  EXPECT_EQ(ui::MessageBox(L"Зарегистрировать?", L"Регистрация клиента", ui::Buttons::YesNo), ui::Answer::No);
  EXPECT_EQ(ui::MessageBox(L"Приложение уже запущено.", L"", ui::Buttons::Ok), ui::Answer::Ok);
}
#endif

TEST_F(UiTest, TrayKeepsTipIconAndLastBalloon) {
  ui::TrayAdd(108, L"3.14.9-MT");
  ui::TrayUpdate(L"tip", 1022, false);
  EXPECT_EQ(ui::Tray().icon, 108);
  ui::TrayUpdate(L"tip", 1022, true);
  ui::TrayBalloon(L"Внимание", L"Нет связи с АИС");
  ui::TrayState tray = ui::Tray();
  EXPECT_EQ(tray.icon, 1022);
  EXPECT_EQ(tray.tip, L"tip");
  EXPECT_EQ(tray.balloonText, L"Нет связи с АИС");
  EXPECT_EQ(tray.balloons, 1);
}

}  // namespace
