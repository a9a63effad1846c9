// What only the Windows files do: the Run key of the registry, command
// lines that keep blanks, quotes and Cyrillic. The windows are tested on
// the Wine desktop (win32_window_test.cpp).
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/autostart.h"
#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/process.h"
#include "test_support.h"

namespace {

const char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// A file of UTF-16 text (reg.exe writes them so) as UTF-8.
std::string Utf16File(const std::string& path) {
  std::vector<uint8_t> bytes = test_support::ReadBytes(path);
  std::wstring wide;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) wide += static_cast<wchar_t>(bytes[i] | bytes[i + 1] << 8);
  std::string text;
  platform::WideToCodePage(wide, 65001, &text);
  return text;
}

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
  // As the system's own tool finds it: a string value of the user's Run key.
  test_support::TempFolder dir;
  const std::string exported = dir.path + "run.reg";
  ASSERT_TRUE(platform::ProcessStart("C:\\windows\\system32\\reg.exe",
                                     {"export", "HKCU\\" + std::string(kRunKey), exported, "/y"}));
  const std::string line = "\"" + name + "\"=\"\\\"C:\\\\Program Files\\\\Тессарин\\\\Tessarin.exe\\\"\"\r\n";
  std::string text;
  for (int i = 0; i < 1000 && text.find(line) == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    text = Utf16File(exported);
  }
  // The value's line stands in the key's own section.
  size_t key = text.find("[HKEY_CURRENT_USER\\" + std::string(kRunKey) + "]\r\n");
  size_t value = text.find("\r\n" + line);
  EXPECT_TRUE(key != std::string::npos && value != std::string::npos && key < value &&
              text.find("\r\n[", key) > value)
      << text;
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

TEST(Win32Test, AProgramInAFolderWithBlanksAndCyrillicGetsItsPathAndArgumentsWhole) {
  test_support::TempFolder dir;
  const std::string folder = dir.path + "Программа с пробелом\\";
  ASSERT_TRUE(platform::FolderCreate(folder));
  const std::string program = folder + "помощник 1.exe";
  ASSERT_TRUE(platform::FileCopy(test_support::BuiltProgram("tests/platform/platform_helper.exe"), program, true));
  const std::vector<std::string> arguments = {"a b", "Привет, мир", "", "say \"hi\"", "C:\\a folder\\",
                                              "back\\\\slash\\\"", "tab\there", "ё"};
  std::vector<std::string> command = {"args", dir.path + "result"};
  command.insert(command.end(), arguments.begin(), arguments.end());
  ASSERT_TRUE(platform::ProcessStart(program, command));
  for (int i = 0; i < 1000 && test_support::ReadText(dir.path + "result").empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::string expected = program + "\n";
  for (const std::string& argument : arguments) expected += argument + "\n";
  EXPECT_EQ(test_support::ReadText(dir.path + "result"), expected);
}

}  // namespace
