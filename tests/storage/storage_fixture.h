// A fresh "TS.db" in a temporary folder for each test, opened with the
// client's schema script, with the log pointed at a folder of its own.
#pragma once

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <string>

#include "storage/database.h"
#include "storage/messages.h"
#include "storage/settings.h"
#include "test_support.h"

namespace storage_test {

class StorageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    storage::ClearSettings();
    ASSERT_TRUE(storage::OpenDatabase(DatabasePath(), storage::kSchemaScript));
  }

  void TearDown() override {
    storage::CloseDatabase();
    storage::ClearSettings();
  }

  std::string DatabasePath() const { return folder.path + "TS.db"; }

  // What a restart does: a new connection, an empty store, LoadSettings.
  void Restart() {
    storage::CloseDatabase();
    storage::ClearSettings();
    ASSERT_TRUE(storage::OpenDatabase(DatabasePath(), storage::kSchemaScript));
    storage::LoadSettings();
  }

  // Runs SQL on the client's connection.
  void Exec(const std::string& sql) {
    char* message = nullptr;
    int result = sqlite3_exec(storage::Database(), sql.c_str(), nullptr, nullptr, &message);
    std::string text = message != nullptr ? message : "";
    sqlite3_free(message);
    ASSERT_EQ(result, SQLITE_OK) << sql << ": " << text;
  }

  // The first column of the first row as text ("NULL" for a null value).
  std::string Query(const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(storage::Database(), sql.c_str(), -1, &statement, nullptr), SQLITE_OK)
        << sql;
    std::string value = "<no row>";
    if (statement != nullptr && sqlite3_step(statement) == SQLITE_ROW) {
      const unsigned char* text = sqlite3_column_text(statement, 0);
      value = text != nullptr ? reinterpret_cast<const char*>(text) : "NULL";
    }
    sqlite3_finalize(statement);
    return value;
  }

  // Every log file written so far, one after another.
  std::string LogText() const {
    std::string all;
    for (const std::string& file : test_support::ListTree(log.folder.path)) {
      if (file.size() > 4 && file.compare(file.size() - 4, 4, ".txt") == 0) all += test_support::ReadText(log.folder.path + file);
    }
    return all;
  }

  test_support::ScopedLogFolder log;
  test_support::TempFolder folder;
};

}  // namespace storage_test
