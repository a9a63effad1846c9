// "TS.db" between the systems: the database the Windows client writes is
// read by Linux's sqlite3, and one sqlite3 wrote on Linux is read by the
// Windows client. CTest runs the three steps in order (CMakeLists.txt):
// DatabaseInterop.WindowsWrites here, db_interop.sh on Linux, then
// DatabaseInterop.WindowsReads here, in the folders windows/ and linux/ of
// tests/storage/interop in the build.
#include <gtest/gtest.h>

#include "platform/file.h"
#include "storage/database.h"
#include "storage/messages.h"
#include "storage/settings.h"
#include "test_support.h"

namespace {

std::string DatabaseOf(const std::string& system) {
  return test_support::BuiltProgram("tests/storage/interop/" + system + "/TS.db");
}

class DatabaseInterop : public ::testing::Test {
 protected:
  void SetUp() override { storage::ClearSettings(); }
  void TearDown() override {
    storage::CloseDatabase();
    storage::ClearSettings();
  }
  test_support::ScopedLogFolder log;
};

TEST_F(DatabaseInterop, WindowsWrites) {
  platform::FileDelete(DatabaseOf("windows"));
  ASSERT_TRUE(storage::OpenDatabase(DatabaseOf("windows"), storage::kSchemaScript));
  storage::NewMessage message;
  message.idm = 2147483647;
  message.dateIn = 4102444800;  // 2100-01-01: past a signed 32-bit number
  message.senderUNP = 190000001;
  message.senderBranch = 65535;
  message.senderName = "ООО «Тест»";
  for (size_t i = 0; i < message.senderIKS.size(); ++i) message.senderIKS[i] = static_cast<uint8_t>(0xA0 + i);
  message.type = storage::kMessageDocument;
  for (int i = 0; i < 256; ++i) message.message.push_back(static_cast<uint8_t>(i));
  for (size_t i = 0; i < message.number.size(); ++i) message.number[i] = static_cast<uint8_t>(0x80 + i);
  message.expire = 77;
  ASSERT_EQ(storage::InsertMessage(message), 0);
  storage::SetSettingInt("IDC_SERVICE", 1);
  storage::SetSettingText("IDC_PATH", L"C:\\Обмен\\ООО «Тест»");
  storage::SaveSettings();
}

TEST_F(DatabaseInterop, WindowsReads) {
  ASSERT_TRUE(storage::OpenDatabase(DatabaseOf("linux"), storage::kSchemaScript));
  storage::LoadSettings();
  EXPECT_EQ(storage::GetSettingInt("IDC_SERVICE"), 1);
  EXPECT_EQ(storage::GetSettingText("IDC_PATH"), std::optional<std::wstring>(L"/home/обмен/ЗАО «Линукс»"));
  ASSERT_TRUE(storage::RebuildMessageList());
  ASSERT_EQ(storage::MessageCount(), 2u);
  std::optional<storage::MessageEntry> newest = storage::MessageAt(0);
  ASSERT_TRUE(newest.has_value());
  EXPECT_EQ(newest->dateIn, 4102444801);
  EXPECT_EQ(newest->idm, -2147483647 - 1);
  EXPECT_EQ(newest->senderUNP, 191234567);
  EXPECT_EQ(newest->senderName, L"ЗАО «Линукс»");
  EXPECT_EQ(newest->type, storage::kMessageCertificateRequest);
  EXPECT_EQ(newest->status, storage::kStatusSigned);
  EXPECT_EQ(newest->senderIKS[19], 0x14);
  std::optional<storage::StoredMessage> shown = storage::SelectForShow(newest->id);
  ASSERT_TRUE(shown.has_value());
  EXPECT_EQ(shown->message, (std::vector<uint8_t>{0x00, 0xFF, 0x0D, 0x0A, 0x1A}));
  EXPECT_EQ(shown->number[17], 0x12);
  EXPECT_EQ(storage::MessageAt(1)->dateIn, 1700000000);
}

}  // namespace
