// The Windows user interface's real windows, on the Wine desktop of the GUI
// tests (tests/shell/wine_desktop.sh): the hand-over through the window
// handle a second client finds in "state.txt", the owner-data message list,
// and the tray icon as the shell reports it.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "platform/ui.h"

namespace {

namespace ui = platform::ui;

// A second client hands over through the window handle of "state.txt": a
// hidden window gets the tray double-click, a visible one is only brought to
// the front.
TEST(Win32WindowTest, ASecondClientsHandOverReachesTheTrayHandlerOfAHiddenWindowOnly) {

  ui::ResetForTest();
  ASSERT_TRUE(ui::CreateMainWindow(L"Tessarin", 600, 600));
  std::vector<int> codes;
  ui::SetTrayHandler([&](int code) { codes.push_back(code); });
  const uint32_t handle = ui::HandOverHandle();
  ASSERT_NE(handle, 0u);
  ASSERT_TRUE(ui::HandOverToRunningClient(handle));
  // Posted messages of the thread come in the order they were posted.
  ui::Post([] { ui::PostQuit(0); });
  EXPECT_EQ(ui::RunMessageLoop(), 0);
  EXPECT_EQ(codes, std::vector<int>{0x203});

  ui::ResetForTest();
  ASSERT_TRUE(ui::CreateMainWindow(L"Tessarin", 600, 600));
  ui::SetTrayHandler([&](int code) { codes.push_back(code); });
  ui::ShowMainWindow(ui::Show::Normal);
  ui::HandOverToRunningClient(ui::HandOverHandle());
  ui::Post([] { ui::PostQuit(0); });
  ui::RunMessageLoop();
  EXPECT_EQ(codes.size(), 1u);
  EXPECT_FALSE(ui::HandOverToRunningClient(0));
  ui::ResetForTest();
  EXPECT_FALSE(ui::HandOverToRunningClient(handle)) << "the window is gone";
}

// The message list holds no rows of its own: a hundred thousand rows are a
// count, and a row is asked of the provider when the list shows it.
TEST(Win32WindowTest, TheMessageListAsksTheProviderForTheRowsItShows) {

  ui::ResetForTest();
  ASSERT_TRUE(ui::CreateMainWindow(L"Tessarin", 600, 600));
  std::atomic<int> asked{0};
  ui::SetMessageRowProvider([&](int row) {
    ++asked;
    return std::vector<std::wstring>{std::to_wstring(row), L"ООО Альфа", L"190000001", L"Счет", L"Не подписан"};
  });
  ui::SetMessageListCount(100000);
  EXPECT_EQ(ui::Controls().rowCount, 100000);
  EXPECT_EQ(ui::MessageListRow(99999),
            (std::vector<std::wstring>{L"99999", L"ООО Альфа", L"190000001", L"Счет", L"Не подписан"}));
  EXPECT_TRUE(ui::MessageListRow(100000).empty());
  EXPECT_LT(asked.load(), 100) << "rows were asked for that nobody looked at";
  ui::SetTitle(L"ООО Бета");
  EXPECT_EQ(ui::Title(), L"ООО Бета");
  ui::SetStatusBarText(L"...");
  EXPECT_EQ(ui::StatusBarText(), L"...");
  ui::SetExchangeButton(true, false);
  EXPECT_FALSE(ui::Controls().buttonEnabled);
  ui::ResetForTest();
}

// The tray's tip is kept by the shell's notification area, where no other
// program can read it back under Wine: the icon is added and changed for
// real here, and the state the client reports is checked.
TEST(Win32WindowTest, TheTrayIconIsAddedAndChangedInTheNotificationArea) {
  ui::ResetForTest();
  ASSERT_TRUE(ui::CreateMainWindow(L"Tessarin", 600, 600));
  ASSERT_TRUE(ui::TrayAdd(108, L"3.14.9-MT")) << "no notification area on the desktop";
  ui::TrayUpdate(L"ООО Бета 3.14.9-MT", 1022, true);
  ui::TrayBalloon(L"Внимание", L"Нет связи с АИС");
  ui::TrayState tray = ui::Tray();
  EXPECT_EQ(tray.tip, L"ООО Бета 3.14.9-MT");
  EXPECT_EQ(tray.icon, 1022);
  EXPECT_EQ(tray.balloons, 1);
  ui::ResetForTest();
}

}  // namespace
