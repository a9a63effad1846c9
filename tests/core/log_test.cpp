// The log writer: where lines go, how they look, and that it never
// disturbs its caller.
#include "core/log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <cerrno>
#include <filesystem>
#include <regex>
#include <thread>
#include <vector>

#include "core/format.h"
#include "platform/clock.h"
#include "platform/fault_injection.h"
#include "platform/paths.h"
#include "test_support.h"

namespace {

using test_support::ReadText;
using test_support::ScopedLogFolder;

// Folders within each other as the log writer names them, each ending with
// the separator.
template <typename... Names>
std::string In(const Names&... names) {
  std::string path;
  ((path += std::string(names) + platform::kPathSeparator), ...);
  return path;
}

std::string Today() {
  platform::CalendarTime now = platform::LocalNow();
  return core::Format("%d%02d%02d", now.year, now.month, now.day);
}

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    core::SetLogRoot("Tessarin");
    core::SetRunStamp("101112_013");
  }
  void TearDown() override {
    platform::ClearFaults();
    platform::SetClockShiftForTest(0);
  }
  std::string RunFile(const char* kind) { return logs.folder.path + In("Tessarin", kind, Today()) + "101112_013.txt"; }
  ScopedLogFolder logs;
};

TEST_F(LogTest, LinesGoToTheRunsFileOfTheDayInTheWrittenForm) {
  core::LogInfo("CTS");
  core::LogInfo("CTS - end");
  std::string text = ReadText(RunFile("Normal"));
  std::regex line(R"(\d{4}\.\d\d\.\d\d \d\d:\d\d:\d\d:\d{3} CTS \r\n\d{4}\.\d\d\.\d\d \d\d:\d\d:\d\d:\d{3} CTS - end \r\n)");
  EXPECT_TRUE(std::regex_match(text, line)) << text;
  EXPECT_EQ(core::LastLogFile(), RunFile("Normal"));
}

TEST_F(LogTest, ErrorCodesAreWrittenInDecimalThenUpperCaseHexadecimal) {
  core::LogError("No code", 0);
  core::LogError("Access", 5);
  core::LogError("Exists", 183);
  core::LogError("Smart card", 0x8010000C);
  std::string normal = ReadText(RunFile("Normal"));
  EXPECT_THAT(normal, ::testing::HasSubstr(" Error = No code \r\n"));
  EXPECT_THAT(normal, ::testing::HasSubstr(" Error = Access 5 = 5 \r\n"));
  EXPECT_THAT(normal, ::testing::HasSubstr(" Error = Exists 183 = B7 \r\n"));
  EXPECT_THAT(normal, ::testing::HasSubstr(" Error = Smart card -2146435060 = 8010000C \r\n"));
  // The same lines, in the same order, in the Error log.
  std::string error = ReadText(RunFile("Error"));
  EXPECT_EQ(std::count(error.begin(), error.end(), '\n'), 4);
  EXPECT_THAT(error, ::testing::HasSubstr(" Error = Exists 183 = B7 \r\n"));
}

TEST_F(LogTest, ValuesAreJoinedWithADashAndCutToTheBuffer) {
  core::LogValue("Размер списка", 12);
  core::LogValue(std::string(2000, 'x'), 7);
  std::string text = ReadText(RunFile("Normal"));
  EXPECT_THAT(text, ::testing::HasSubstr(" Размер списка - 12 \r\n"));
  size_t start = text.find("xxx");
  size_t end = text.find(" \r\n", start);
  EXPECT_EQ(end - start, 1279u);
}

TEST_F(LogTest, ExceptionsGoToTheRunsFileAndToAFileNamedByTheirMoment) {
  core::LogException("SendMessageToServer");
  EXPECT_THAT(ReadText(RunFile("Normal")), ::testing::HasSubstr(" Exception - SendMessageToServer \r\n"));
  std::string except = core::LastLogFile();
  // std::regex: the matchers of the Windows build know no character classes.
  EXPECT_TRUE(std::regex_match(except, std::regex(R"(.*[/\\]Tessarin[/\\]Except[/\\][0-9]{8}[/\\][0-9]{6}_[0-9]{3}\.txt)")))
      << except;
  EXPECT_THAT(ReadText(except), ::testing::HasSubstr(" Exception - SendMessageToServer \r\n"));
}

TEST_F(LogTest, ANewDayContinuesInTheNewDaysFolderUnderTheSameStem) {
  core::LogInfo("before");
  platform::SetClockShiftForTest(24 * 3600);
  core::LogInfo("after");
  std::string tomorrow = Today();
  EXPECT_EQ(core::LastLogFile(), logs.folder.path + In("Tessarin", "Normal", tomorrow) + "101112_013.txt");
  EXPECT_THAT(ReadText(core::LastLogFile()), ::testing::HasSubstr(" after \r\n"));
  EXPECT_THAT(ReadText(core::LastLogFile()), ::testing::Not(::testing::HasSubstr("before")));
}

TEST_F(LogTest, TheStampTheDayFolderAndTheMomentsFileNameCarryTheMomentOfWriting) {
  // A moment whose fields all differ (2031-03-06 04:05:10 UTC, seconds 10
  // so that the minute stays while the test runs), written as printf would.
  const int64_t moment = 1930536310;
  platform::SetClockShiftForTest(moment - platform::UnixNow());
  const platform::CalendarTime t = platform::LocalFromUnix(moment);
  core::LogException("Stamp");
  const std::string except = core::LastLogFile();
  const std::string day = core::Format("%d%02d%02d", t.year, t.month, t.day);
  const std::string clock = core::Format("%02d%02d%d", t.hour, t.minute, t.second / 10);
  EXPECT_THAT(except, ::testing::HasSubstr(In("Except", day) + clock));
  EXPECT_THAT(ReadText(except), ::testing::StartsWith(core::Format("%d.%02d.%02d %02d:%02d:%d", t.year, t.month, t.day,
                                                                   t.hour, t.minute, t.second / 10)));
}

TEST_F(LogTest, FoldersRemovedWhileTheClientRunsAreMadeAgainWithinASecond) {
#ifdef _WIN32
  GTEST_SKIP() << "the Windows runtime's remove_all never returns under Wine while the log file in the tree is open";
#endif
  core::LogInfo("first");
  std::filesystem::remove_all(logs.folder.path + "Tessarin");
  platform::SetClockShiftForTest(2);
  core::LogInfo("again");
  EXPECT_THAT(ReadText(core::LastLogFile()), ::testing::HasSubstr(" again \r\n"));
}

TEST_F(LogTest, AFolderThatCannotBeCreatedDropsTheLineQuietly) {
  platform::InjectFault(platform::Syscall::MakeFolder, EACCES);
  core::LogInfo("lost");
  core::LogError("lost too", 5);
  platform::ClearFaults();
  EXPECT_TRUE(test_support::ListTree(logs.folder.path).empty());
}

TEST_F(LogTest, AFileThatCannotBeOpenedDropsTheLine) {
  platform::InjectFault(platform::Syscall::Open, EACCES, 1);
  core::LogInfo("lost");
  core::LogInfo("kept");
  std::string text = ReadText(RunFile("Normal"));
  EXPECT_THAT(text, ::testing::Not(::testing::HasSubstr("lost")));
  EXPECT_THAT(text, ::testing::HasSubstr(" kept \r\n"));
}

TEST_F(LogTest, LinesOfSeveralThreadsStayWhole) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t]() {
      for (int i = 0; i < 200; ++i) core::LogInfo(core::Format("thread %d line %03d", t, i));
    });
  }
  for (auto& thread : threads) thread.join();
  std::string text = ReadText(RunFile("Normal"));
  std::regex line(R"(\d{4}\.\d\d\.\d\d \d\d:\d\d:\d\d:\d{3} thread \d line \d{3} \r\n)");
  size_t count = 0;
  for (std::sregex_iterator it(text.begin(), text.end(), line), end; it != end; ++it) ++count;
  EXPECT_EQ(count, 800u);
  EXPECT_EQ(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')), 800u);
}

#ifndef _WIN32
// Modes and links of a shared /tmp, a Linux rule.
TEST_F(LogTest, TheLogIsReadableByTheUserAloneAndALinkInItsPlaceIsNotFollowed) {
  core::LogError("Access", 5);
  core::LogException("TimerService");
  for (const auto& entry : std::filesystem::recursive_directory_iterator(logs.folder.path + "Tessarin")) {
    struct stat st;
    ASSERT_EQ(lstat(entry.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, entry.is_directory() ? 0700u : 0600u) << entry.path();
  }

  // A link planted where the run's file of a kind will be made.
  std::string planted = logs.folder.path + "elsewhere.txt";
  test_support::WriteText(planted, "");
  std::filesystem::create_directories(logs.folder.path + "Tessarin/Except/" + Today());
  std::filesystem::create_symlink(planted, logs.folder.path + "Tessarin/Except/" + Today() + "/101112_013.txt");
  core::LogWrite("secret", core::kLogExcept, "101112_013");
  EXPECT_EQ(ReadText(planted), "");
}
#endif

}  // namespace
