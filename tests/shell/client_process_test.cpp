// The real client program started as a process in a fresh program folder:
// what it leaves behind, the single-instance hand-over and its exit codes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "client_process.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using test_support::ReadBytes;
using test_support::ReadText;

using shell_test::ClientProcess;

uint32_t PidInState(const std::vector<uint8_t>& state) {
  if (state.size() != 11) return 0;
  return state[7] | state[8] << 8 | state[9] << 16 | static_cast<uint32_t>(state[10]) << 24;
}

class ClientProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::copy_file(test_support::BuiltProgram("src/shell/Tessarin"), folder.path + "Tessarin");
    test_support::WriteText(folder.path + "TSR_Update", std::string(100001, 'u'));
  }

  // The client has finished its start once its state file holds the long
  // record.
  bool WaitForStart() {
    for (int i = 0; i < 1000; ++i) {
      if (ReadBytes(folder.path + "state.txt").size() == 11) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  std::string TableSql(const std::string& table) {
    sqlite3* db = nullptr;
    std::string sql;
    if (sqlite3_open_v2((folder.path + "TS.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
      sqlite3_stmt* statement = nullptr;
      sqlite3_prepare_v2(db, "SELECT sql FROM sqlite_master WHERE name = ?", -1, &statement, nullptr);
      sqlite3_bind_text(statement, 1, table.c_str(), -1, SQLITE_TRANSIENT);
      if (sqlite3_step(statement) == SQLITE_ROW) sql = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
      sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return sql;
  }

  test_support::TempFolder folder;  // the program folder
  test_support::TempFolder temp;    // the client's temporary folder
};

TEST_F(ClientProcessTest, AFreshStartLeavesStateFoldersDatabaseAndLog) {
  ClientProcess client;
  client.Start(folder.path, temp.path);
  ASSERT_TRUE(WaitForStart()) << client.Console();

  EXPECT_EQ(PidInState(ReadBytes(folder.path + "state.txt")), static_cast<uint32_t>(client.pid));

  std::vector<std::string> tree = test_support::ListTree(folder.path);
  EXPECT_THAT(tree, ::testing::Contains("documents/"));
  EXPECT_THAT(tree, ::testing::Contains(::testing::MatchesRegex("working/[0-9]{8}/")));
  EXPECT_EQ(TableSql("Messages"),
            "CREATE TABLE `Messages` (`id`\tINTEGER PRIMARY KEY AUTOINCREMENT,\t\t`idm`\tINTEGER,\t\t`dateIn`\tINTEGER,"
            "\t\t`dateOperation`\tINTEGER,\t\t`senderUNP`\tINTEGER,\t\t`senderBranch`\tINTEGER,\t\t`senderIKS`\tBLOB,"
            "\t\t`senderName`\tBLOB,\t\t`type`\tINTEGER,\t\t`status`\tINTEGER,\t\t`message`\tBLOB,\t\t`number`\tBLOB,"
            "\t\t`expire`\tINTEGER,\t\t`TempSD`\tBLOB,\t\t`TempDFS`\tBLOB\t\t)");
  EXPECT_EQ(TableSql("Settings"),
            "CREATE TABLE `Settings` (`id`\tINTEGER PRIMARY KEY AUTOINCREMENT,\t\t`Name` BLOB,`type` INTEGER,"
            "`I` INTEGER,`B` BLOB)");

  // The run's log starts with the version and the executable's path.
  std::vector<std::string> logs;
  for (const std::string& file : test_support::ListTree(temp.path + "Tessarin/Normal")) {
    if (file.back() != '/') logs.push_back(file);
  }
  ASSERT_EQ(logs.size(), 1u);
  std::string log = ReadText(temp.path + "Tessarin/Normal/" + logs[0]);
  EXPECT_THAT(log, ::testing::MatchesRegex("[0-9. :]{23} 3\\.14\\.9-MTR \r\n[0-9. :]{23} .*/Tessarin \r\n(.|\r|\n)*"));

  EXPECT_TRUE(client.Running());
  EXPECT_EQ(client.Stop(), 0);
}

TEST_F(ClientProcessTest, ASecondStartHandsOverToTheRunningClientAndEndsWithZero) {
  ClientProcess first;
  first.Start(folder.path, temp.path);
  ASSERT_TRUE(WaitForStart());
  ClientProcess second;
  second.Start(folder.path, temp.path);
  EXPECT_EQ(second.Wait(), 0);
  EXPECT_THAT(second.Console(), ::testing::Not(::testing::HasSubstr("Приложение уже запущено.")));
  EXPECT_TRUE(first.Running());
  EXPECT_EQ(first.Stop(), 0);
}

TEST_F(ClientProcessTest, ASevenByteStateFileWhileAClientRunsShowsAlreadyRunning) {
  ClientProcess first;
  first.Start(folder.path, temp.path);
  ASSERT_TRUE(WaitForStart());
  fs::resize_file(folder.path + "state.txt", 7);
  ClientProcess second;
  second.Start(folder.path, temp.path);
  EXPECT_EQ(second.Wait(), 0);
  EXPECT_THAT(second.Console(), ::testing::HasSubstr("Приложение уже запущено."));
  EXPECT_EQ(first.Stop(), 0);
}

TEST_F(ClientProcessTest, ALeftoverStateFileOfACrashedClientDoesNotBlockTheStart) {
  test_support::WriteBytes(folder.path + "state.txt", {1, 2, 3, 4, 0, 0, 0, 0x7f, 0x7f, 0, 0});
  ClientProcess client;
  client.Start(folder.path, temp.path);
  for (int i = 0; i < 500; ++i) {
    if (PidInState(ReadBytes(folder.path + "state.txt")) == static_cast<uint32_t>(client.pid)) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(client.Running());
  EXPECT_EQ(PidInState(ReadBytes(folder.path + "state.txt")), static_cast<uint32_t>(client.pid));
  EXPECT_EQ(client.Stop(), 0);
}

TEST_F(ClientProcessTest, AMissingUpdaterEndsWithCodeOneAndTheSupportMessage) {
  fs::remove(folder.path + "TSR_Update");
  ClientProcess client;
  client.Start(folder.path, temp.path);
  EXPECT_EQ(client.Wait(), 1);
  EXPECT_THAT(client.Console(), ::testing::HasSubstr("Не найден файл TSR_Update.exe в каталоге с программой."));
  EXPECT_THAT(client.Console(), ::testing::HasSubstr("Обратитесь в службу технической поддержки."));
}

TEST_F(ClientProcessTest, AConsoleThatNobodyReadsDoesNotEndTheClient) {
  ClientProcess client;
  client.closedOutput = true;
  client.Start(folder.path, temp.path);
  client.Type("what");  // an unknown command prints the help
  client.Type("exit");
  EXPECT_EQ(client.Wait(), 0);
}

}  // namespace
