// What only the Windows files do: the Run key of the registry, command
// lines that keep blanks and quotes, and the hand-over event a second
// client sets.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/autostart.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/ui.h"
#include "test_support.h"

namespace {

bool HasEntry(const std::string& name, std::string* command) {
  std::vector<platform::AutostartEntry> entries;
  EXPECT_TRUE(platform::ListAutostartEntries(&entries));
  for (const auto& entry : entries) {
    if (entry.name == name) {
      *command = entry.command;
      return true;
    }
  }
  return false;
}

TEST(Win32Test, AutostartIsAValueOfTheRunKeyHoldingTheQuotedPath) {
  const std::string name = "Tessarin test 190000000";
  const std::string path = "C:\\Program Files\\Тессарин\\Tessarin.exe";
  ASSERT_TRUE(platform::WriteAutostartEntry(name, path));
  std::string command;
  ASSERT_TRUE(HasEntry(name, &command));
  EXPECT_EQ(command, "\"" + path + "\"");
  ASSERT_TRUE(platform::DeleteAutostartEntry(name));
  EXPECT_FALSE(HasEntry(name, &command));
  EXPECT_FALSE(platform::DeleteAutostartEntry(name));
  EXPECT_EQ(platform::ErrorKindOf(platform::LastSystemError()), platform::ErrorKind::NotFound);
}

TEST(Win32Test, AStartedProgramGetsArgumentsWithBlanksWhole) {
  test_support::TempFolder dir;
  const std::string from = dir.path + "a request.xml";
  const std::string to = dir.path + "the answer.xml";
  test_support::WriteText(from, "body");
  // cmd's copy takes exactly two names: a blank split wrongly fails it.
  ASSERT_TRUE(platform::ProcessStart("C:\\windows\\system32\\cmd.exe", {"/c", "copy", from, to}));
  for (int i = 0; i < 1000 && test_support::ReadText(to) != "body"; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(test_support::ReadText(to), "body");
}

TEST(Win32Test, ASecondClientsHandOverReachesTheTrayHandler) {
  platform::ui::ResetForTest();
  std::atomic<int> code{0};
  platform::ui::SetTrayHandler([&](int received) { code = received; });
  platform::ui::InstallSignalHandlers();
  ASSERT_TRUE(platform::ProcessAskToShow(platform::CurrentProcessId()));
  for (int i = 0; i < 1000 && code == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    platform::ui::RunPostedForTest();
  }
  EXPECT_EQ(code, 0x203);
  EXPECT_FALSE(platform::ProcessAskToShow(platform::CurrentProcessId() + 100000));
  platform::ui::ResetForTest();
}

}  // namespace
