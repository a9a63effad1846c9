// The settings store against a real "TS.db": persistence across restarts,
// the protected password, updates instead of duplicates, limits on loading,
// and readers and writers on several threads.
#include <sqlite3.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "core/text.h"
#include "link/xtea128.h"
#include "storage/password.h"
#include "storage/settings.h"
#include "storage_fixture.h"

namespace storage_test {
namespace {

using storage::GetSettingInt;
using storage::GetSettingText;
using storage::SetSettingInt;
using storage::SetSettingText;

const std::wstring kCertA = L"0123456789ABCDEF0123456789ABCDEF01234567";
const std::wstring kCertB = L"FEDCBA9876543210FEDCBA9876543210FEDCBA98";

// The password deciphered from the B column by hand, as another reader of
// the file would: Base64, Xtea128 under the first 32 bytes of the
// certificate text completed with zeros, up to the first zero byte.
std::string DecipherStored(const std::string& b, const std::wstring& certificate) {
  std::vector<uint8_t> sealed = core::Base64Decode(b);
  uint8_t key[32] = {};
  std::string cert = core::ToNarrow(certificate, core::kCodePageUtf8);
  std::memcpy(key, cert.data(), std::min<size_t>(32, cert.size()));
  std::vector<uint8_t> plain = serverlink::Xtea128Crypt(sealed, key, serverlink::XteaDirection::Decrypt);
  auto zero = std::find(plain.begin(), plain.end(), uint8_t{0});
  return std::string(plain.begin(), zero);
}

class SettingsTest : public StorageTest {
 protected:
  std::string StoredB(const std::string& name) {
    return Query("SELECT B FROM Settings WHERE Name = CAST('" + name + "' AS BLOB)");
  }
  int RowCount() { return std::stoi(Query("SELECT count(*) FROM Settings")); }
};

TEST_F(SettingsTest, NewDatabaseReadsNothingAndFirstSaveInsertsEachRecord) {
  storage::LoadSettings();
  EXPECT_EQ(storage::FindSetting("IDC_CERT"), -1);
  EXPECT_EQ(GetSettingInt("IDC_SERVICE"), 0);
  EXPECT_FALSE(GetSettingText("IDC_PATH").has_value());
  EXPECT_EQ(storage::GetSettingTextJson("IDC_PATH"), "");
  EXPECT_EQ(RowCount(), 0);

  SetSettingInt("IDC_SERVICE", 1);
  SetSettingText("IDC_EMAIL", L"a@b.by");
  storage::SaveSettings();
  EXPECT_EQ(RowCount(), 2);
  EXPECT_GT(storage::GetSettingField(0, "id"), 0);
  EXPECT_GT(storage::GetSettingField(-1, "id"), 0);
  EXPECT_EQ(Query("SELECT type || ',' || I || ',' || quote(B) FROM Settings WHERE id = " +
                  std::to_string(storage::GetSettingField(0, "id"))),
            "0,1,X''");
}

TEST_F(SettingsTest, ValuesSurviveARestartAndSavingTwiceUpdates) {
  SetSettingInt("IDC_PROXY_USE", 1);
  SetSettingInt("IDC_RUN", -5);
  SetSettingText("IDC_PATH", L"C:\\Обмен\\");
  SetSettingText("IDC_NAME", L"Иванов И.И.");
  SetSettingText("IDC_PROXY_PASS", L"secret12");
  storage::SaveSettings();
  storage::SaveSettings();
  EXPECT_EQ(RowCount(), 5);

  Restart();
  EXPECT_EQ(GetSettingInt("IDC_PROXY_USE"), 1);
  EXPECT_EQ(GetSettingInt("IDC_RUN"), -5);
  EXPECT_EQ(GetSettingText("IDC_PATH").value_or(L"-"), L"C:\\Обмен\\");
  EXPECT_EQ(GetSettingText("IDC_NAME").value_or(L"-"), L"Иванов И.И.");
  EXPECT_EQ(storage::GetSettingTextJson("IDC_PATH"), "C:\\\\Обмен\\\\");
  // Only the key-medium password is protected; the proxy's is kept as typed.
  EXPECT_EQ(StoredB("IDC_PROXY_PASS"), "secret12");

  // Changes after the restart go to the same rows.
  SetSettingInt("IDC_RUN", 1);
  SetSettingText("IDC_NAME", L"Петров");
  SetSettingText("IDC_EDS_FIO", L"new one");
  storage::SaveSettings();
  storage::SaveSettings();
  EXPECT_EQ(RowCount(), 6);
  Restart();
  EXPECT_EQ(GetSettingInt("IDC_RUN"), 1);
  EXPECT_EQ(GetSettingText("IDC_NAME").value_or(L"-"), L"Петров");
  EXPECT_EQ(GetSettingText("IDC_EDS_FIO").value_or(L"-"), L"new one");
  // Order of loading is the order of the rows.
  std::vector<storage::SettingRecord> records = storage::SettingsSnapshot();
  ASSERT_EQ(records.size(), 6u);
  EXPECT_STREQ(records[0].name, "IDC_PROXY_USE");
  EXPECT_STREQ(records[5].name, "IDC_EDS_FIO");
}

TEST_F(SettingsTest, TypeOfAnExistingSettingIsKept) {
  SetSettingInt("IDC_SECURE", 1);
  SetSettingText("IDC_SECURE", L"text");
  SetSettingText("IDC_FACE", L"x");
  SetSettingInt("IDC_FACE", 7);
  EXPECT_EQ(storage::GetSettingField(storage::FindSetting("IDC_SECURE"), "type"), 0);
  EXPECT_EQ(storage::GetSettingField(storage::FindSetting("IDC_FACE"), "type"), 1);
  EXPECT_EQ(GetSettingInt("IDC_FACE"), 7);
  // Names are compared exactly.
  EXPECT_EQ(storage::FindSetting("idc_face"), -1);
}

TEST_F(SettingsTest, PasswordIsStoredProtectedAndComesBackInClear) {
  SetSettingText("IDC_CERT", kCertA);
  SetSettingText("IDC_PASS", L"12345678");
  storage::SaveSettings();
  std::string b = StoredB("IDC_PASS");
  EXPECT_EQ(b.find("12345678"), std::string::npos);
  EXPECT_EQ(core::Base64Decode(b).size(), 16u);
  EXPECT_EQ(DecipherStored(b, kCertA), "12345678");

  Restart();
  EXPECT_EQ(GetSettingText("IDC_PASS").value_or(L"-"), L"12345678");
}

TEST_F(SettingsTest, PasswordOfSevenCharactersOrShortCertificateIsNotKept) {
  SetSettingText("IDC_CERT", kCertA);
  SetSettingText("IDC_PASS", L"1234567");
  storage::SaveSettings();
  EXPECT_EQ(StoredB("IDC_PASS"), "");
  Restart();
  EXPECT_EQ(GetSettingText("IDC_PASS").value_or(L""), L"");

  // A certificate text of 20 characters is too short to protect under.
  SetSettingText("IDC_CERT", kCertA.substr(0, 20));
  SetSettingText("IDC_PASS", L"long enough");
  storage::SaveSettings();
  EXPECT_EQ(StoredB("IDC_PASS"), "");

  // 21 characters: protected under the text completed with zero bytes.
  SetSettingText("IDC_CERT", kCertA.substr(0, 21));
  storage::SaveSettings();
  EXPECT_EQ(DecipherStored(StoredB("IDC_PASS"), kCertA.substr(0, 21)), "long enough");
  Restart();
  EXPECT_EQ(GetSettingText("IDC_PASS").value_or(L"-"), L"long enough");
}

TEST_F(SettingsTest, ChangingTheCertificateReprotectsThePassword) {
  SetSettingText("IDC_PASS", L"пароль-кириллицей");
  SetSettingText("IDC_CERT", kCertA);
  storage::SaveSettings();
  std::string underA = StoredB("IDC_PASS");

  SetSettingText("IDC_CERT", kCertB);
  storage::SaveSettings();
  std::string underB = StoredB("IDC_PASS");
  EXPECT_NE(underA, underB);
  EXPECT_EQ(DecipherStored(underB, kCertB), "пароль-кириллицей");
  EXPECT_NE(DecipherStored(underB, kCertA), "пароль-кириллицей");

  Restart();
  EXPECT_EQ(GetSettingText("IDC_PASS").value_or(L"-"), L"пароль-кириллицей");
}

TEST_F(SettingsTest, LongPasswordIsCutToWhatTheProtectedFormHolds) {
  SetSettingText("IDC_CERT", kCertA);
  std::wstring password(200, L'p');
  SetSettingText("IDC_PASS", password);
  storage::SaveSettings();
  EXPECT_EQ(core::Base64Decode(StoredB("IDC_PASS")).size(), 128u);
  Restart();
  EXPECT_EQ(GetSettingText("IDC_PASS").value_or(L"-"), password.substr(0, 128));
}

TEST_F(SettingsTest, LongNamesAndTextsAreCutOnLoading) {
  std::string longName = "IDC_" + std::string(300, 'N');
  std::string longText(2000, 'T');
  std::string cyrillic;
  for (int i = 0; i < 700; ++i) cyrillic += "Ж";  // 1400 bytes, two per letter
  Exec("INSERT INTO Settings (Name, type, I, B) VALUES (CAST('" + longName + "' AS BLOB), 1, 0, CAST('" +
       longText + "' AS BLOB))");
  Exec("INSERT INTO Settings (Name, type, I, B) VALUES (CAST('IDC_FACE' AS BLOB), 1, 0, CAST('" +
       cyrillic + "' AS BLOB))");
  storage::LoadSettings();

  std::vector<storage::SettingRecord> records = storage::SettingsSnapshot();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(std::string(records[0].name), longName.substr(0, 127));
  EXPECT_EQ(records[0].text.value_or(L""), std::wstring(1023, L'T'));
  EXPECT_EQ(storage::FindSetting(longName), 0);
  // 1023 bytes would split a letter: the cut keeps whole letters.
  EXPECT_EQ(records[1].text.value_or(L"").size(), 511u);
}

TEST_F(SettingsTest, StoredPasswordThatDoesNotDecipherIsUsedAsItComesOut) {
  // Far longer than the 128 bytes the password may take, and enciphered
  // under nothing in particular.
  std::string garbage = core::Base64Encode(std::vector<uint8_t>(300, 0xA5));
  Exec("INSERT INTO Settings (Name, type, I, B) VALUES (CAST('IDC_CERT' AS BLOB), 1, 0, CAST('" +
       core::ToNarrow(kCertA, core::kCodePageUtf8) + "' AS BLOB))");
  Exec("INSERT INTO Settings (Name, type, I, B) VALUES (CAST('IDC_PASS' AS BLOB), 1, 0, CAST('" + garbage +
       "' AS BLOB))");
  storage::LoadSettings();
  std::optional<std::wstring> password = GetSettingText("IDC_PASS");
  ASSERT_TRUE(password.has_value());
  EXPECT_NE(*password, std::wstring(garbage.begin(), garbage.end()));
  EXPECT_LE(password->size(), storage::kPasswordBytesMax);
  EXPECT_EQ(*password, storage::UnprotectPassword(garbage, kCertA));
}

TEST_F(SettingsTest, UnreadableTableLeavesTheStoreEmptyAndIsLogged) {
  SetSettingInt("IDC_RUN", 1);
  Exec("DROP TABLE Settings");
  storage::LoadSettings();
  EXPECT_TRUE(storage::SettingsSnapshot().empty());
  EXPECT_NE(LogText().find("Error = no such table: SETTINGS"), std::string::npos);

  // Saving without the table fails row by row, quietly, and stores no id.
  SetSettingInt("IDC_RUN", 1);
  storage::SaveSettings();
  EXPECT_EQ(storage::GetSettingField(0, "id"), 0);
}

std::vector<std::wstring> statusBar;  // texts the hook received
void RecordStatus(const std::wstring& text) { statusBar.push_back(text); }

TEST_F(SettingsTest, SavingShowsProgressAndLogsItsMarkers) {
  statusBar.clear();
  storage::SetStatusBarHook(&RecordStatus);
  SetSettingInt("IDC_RUN", 1);
  storage::SaveSettings();
  storage::SetStatusBarHook(nullptr);
  EXPECT_EQ(statusBar, (std::vector<std::wstring>{L"Сохранение параметров...", L"..."}));
  std::string log = LogText();
  size_t begin = log.find("Update parameters \r\n");
  size_t end = log.find("Update parameters - end \r\n");
  ASSERT_NE(begin, std::string::npos);
  ASSERT_NE(end, std::string::npos);
  EXPECT_LT(begin, end);
}

TEST_F(SettingsTest, ReadersAndWritersOnSeveralThreads) {
  SetSettingText("IDC_PATH", L"start");
  SetSettingText("IDC_CERT", kCertA);
  std::atomic<bool> stop{false};
  std::atomic<int> wrongReads{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 3; ++r) {
    readers.emplace_back([&] {
      while (!stop) {
        std::wstring text = GetSettingText("IDC_PATH").value_or(L"");
        if (text != L"start" && text.rfind(L"path-", 0) != 0) ++wrongReads;
        if (storage::GetSettingTextJson("IDC_CERT").size() != 40) ++wrongReads;
        storage::FindSetting("IDC_NEW");
      }
    });
  }
  std::thread saver([&] {
    for (int i = 0; i < 20; ++i) storage::SaveSettings();
  });
  for (int i = 0; i < 2000; ++i) {
    SetSettingText("IDC_PATH", L"path-" + std::to_wstring(i) + std::wstring(static_cast<size_t>(i % 50), L'x'));
    SetSettingInt("IDC_NEW", i);
  }
  saver.join();
  stop = true;
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(wrongReads.load(), 0);

  // However the saves fell, each record has exactly one row.
  storage::SaveSettings();
  EXPECT_EQ(RowCount(), 3);
  Restart();
  EXPECT_EQ(GetSettingInt("IDC_NEW"), 1999);
}

}  // namespace
}  // namespace storage_test
