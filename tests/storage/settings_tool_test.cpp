// tsr-tool settings against a program folder: what it writes the client
// reads back (the password protected the same way), and it keeps its hands
// off a folder whose client is running.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "core/text.h"
#include "platform/instance_lock.h"
#include "storage/database.h"
#include "storage/settings.h"
#include "test_support.h"

namespace storage_test {
namespace {

class SettingsToolTest : public ::testing::Test {
 protected:
  // Runs the tool with the arguments and --folder; its output goes to
  // `output`. Returns the exit code.
  int Tool(const std::string& arguments) {
    std::string command = test_support::BuiltProgram("tools/tsr-tool/tsr-tool") + " settings " +
                          arguments + " --folder '" + folder.path + "' >'" + log.folder.path +
                          "out.txt' 2>&1";
    int status = std::system(command.c_str());
    output = test_support::ReadText(log.folder.path + "out.txt");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  test_support::ScopedLogFolder log;  // also the folder of the instance locks
  test_support::TempFolder folder;    // the program folder
  std::string output;                 // what the last run printed
};

TEST_F(SettingsToolTest, WhatTheToolSetsTheClientLoads) {
  EXPECT_EQ(Tool("list"), 1);  // no database yet, and none is created
  EXPECT_FALSE(std::ifstream(folder.path + "TS.db").good());

  ASSERT_EQ(Tool("set IDC_CERT 0123456789ABCDEF0123456789ABCDEF01234567"), 0) << output;
  ASSERT_EQ(Tool("set IDC_PASS 'ПИН-код 42'"), 0) << output;
  ASSERT_EQ(Tool("set IDC_SERVICE 1"), 0) << output;
  ASSERT_EQ(Tool("set IDC_PATH '/srv/exchange/'"), 0) << output;
  EXPECT_EQ(Tool("set IDC_RUN yes"), 2);
  EXPECT_EQ(Tool("set IDC_UNKNOWN 1"), 2);

  ASSERT_EQ(Tool("list"), 0);
  EXPECT_NE(output.find("IDC_PASS = ********\n"), std::string::npos) << output;
  EXPECT_EQ(output.find("ПИН-код"), std::string::npos) << output;
  EXPECT_NE(output.find("IDC_SERVICE = 1\n"), std::string::npos) << output;
  ASSERT_EQ(Tool("get IDC_PATH"), 0);
  EXPECT_EQ(output, "/srv/exchange/\n");
  // The exchange folder is stored ending with the separator; empty stays
  // empty (no folder).
  ASSERT_EQ(Tool("set IDC_PATH /srv/exchange"), 0) << output;
  ASSERT_EQ(Tool("get IDC_PATH"), 0);
  EXPECT_EQ(output, "/srv/exchange/\n");
  ASSERT_EQ(Tool("set IDC_PATH ''"), 0) << output;
  ASSERT_EQ(Tool("get IDC_PATH"), 0);
  EXPECT_EQ(output, "\n");
  ASSERT_EQ(Tool("set IDC_PATH /srv/exchange/"), 0) << output;
  EXPECT_EQ(Tool("get IDC_RUN"), 1);

  storage::ClearSettings();
  ASSERT_TRUE(storage::OpenDatabase(folder.path + "TS.db", storage::kSchemaScript));
  storage::LoadSettings();
  storage::CloseDatabase();
  EXPECT_EQ(storage::GetSettingText("IDC_PASS").value_or(L"-"), L"ПИН-код 42");
  EXPECT_EQ(storage::GetSettingInt("IDC_SERVICE"), 1);
  EXPECT_EQ(storage::GetSettingField(storage::FindSetting("IDC_SERVICE"), "type"), storage::kSettingInteger);
  storage::ClearSettings();
}

TEST_F(SettingsToolTest, RefusesToWriteWhileAClientRunsInTheFolder) {
  ASSERT_EQ(Tool("set IDC_EMAIL before@example.by"), 0) << output;
  // This test process plays the running client; the lock stays held until
  // it ends, which is harmless since the folder is gone by then.
  ASSERT_EQ(platform::AcquireInstanceLock(folder.path), platform::InstanceLock::Acquired);
  EXPECT_EQ(Tool("set IDC_EMAIL after@example.by"), 1);
  EXPECT_NE(output.find("a client is running in"), std::string::npos) << output;
  // Reading stays possible.
  ASSERT_EQ(Tool("get IDC_EMAIL"), 0);
  EXPECT_EQ(output, "before@example.by\n");
}

}  // namespace
}  // namespace storage_test
