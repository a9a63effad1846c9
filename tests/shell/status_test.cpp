// Status lines, the web text and the tray icon by client state.
#include "shell/status.h"

#include <regex>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/client_state.h"
#include "platform/ui.h"

namespace {

namespace ui = platform::ui;

class StatusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::ResetForTest();
    ui::CreateMainWindow(L"Tessarin", 600, 600);
    ui::TrayAdd(shell::kIconReady, L"3.14.9-MT");
    core::SetClientState(core::kStateReady);
  }
  void TearDown() override {
    ui::ResetForTest();
    core::SetClientState(core::kStateReady);
  }
};

TEST_F(StatusTest, LinesAreStampedAndShownOnlyWhileTheWindowIsShown) {
  shell::ShowStatus(L"hidden");
  EXPECT_TRUE(ui::StatusListLines().empty());
  ui::ShowMainWindow(ui::Show::Normal);
  shell::ShowStatus(L"Нет сообщений");
  ASSERT_EQ(ui::StatusListLines().size(), 1u);
  EXPECT_TRUE(std::regex_match(ui::StatusListLines()[0], std::wregex(L"[0-9]{2}:[0-9]{2}:[0-9]{2} Нет сообщений")));
  shell::ShowStatus(std::wstring(400, L'x'));
  EXPECT_EQ(ui::StatusListLines()[0].size(), 255u);
}

TEST_F(StatusTest, TheWebTextCollectsEveryLineEvenWhileHidden) {
  std::wstring web;
  shell::ShowStatus(L"Сообщение получено", &web);
  shell::ShowStatus(L"Нет сообщений", &web);
  EXPECT_EQ(web, L"Сообщение получено<BR>Нет сообщений<BR>");
  EXPECT_TRUE(ui::StatusListLines().empty());
}

TEST_F(StatusTest, TheTrayFollowsTheClientState) {
  shell::UpdateTrayIcon(true, L"");
  EXPECT_EQ(ui::Tray().icon, shell::kIconReady);
  EXPECT_EQ(ui::Tray().tip, L" 3.14.9-MT");
  EXPECT_EQ(ui::Tray().balloons, 0);

  core::SetClientState(core::kStateMessagesWaiting);
  shell::UpdateTrayIcon(true, L"Ожидают получения 2 сообщений");
  EXPECT_EQ(ui::Tray().icon, shell::kIconMessages);
  EXPECT_EQ(ui::Tray().tip, L"Ожидают получения 2 сообщений");
  EXPECT_EQ(ui::Tray().balloonTitle, L"Внимание");
  EXPECT_EQ(shell::TrayWarning(), L"Ожидают получения 2 сообщений");

  core::SetClientState(core::kStateNoLink);
  shell::UpdateTrayIcon(false, L"Нет связи с АИС");
  EXPECT_EQ(ui::Tray().icon, shell::kIconMessages) << "the icon changes only when asked";
  shell::UpdateTrayIcon(true, L"Нет связи с АИС");
  EXPECT_EQ(ui::Tray().icon, shell::kIconWarning);
  EXPECT_EQ(ui::Tray().balloonText, L"Нет связи с АИС");
}

TEST_F(StatusTest, TheWarningIsKeptWhileReadyAndEmptiedByAnEmptyText) {
  core::SetClientState(core::kStateNoLink);
  shell::UpdateTrayIcon(true, L"Нет связи с АИС");
  core::SetClientState(core::kStateReady);
  shell::UpdateTrayIcon(true, L"");
  EXPECT_EQ(shell::TrayWarning(), L"Нет связи с АИС");
  core::SetClientState(core::kStateNoKeyMedium);
  int balloons = ui::Tray().balloons;
  shell::UpdateTrayIcon(false, L"");
  EXPECT_EQ(shell::TrayWarning(), L"");
  EXPECT_EQ(ui::Tray().balloons, balloons) << "an empty text shows no balloon";
}

}  // namespace
