// The autostart entry follows "IDC_RUN": XDG autostart files in a test
// folder, the certificate selected from the test store.
#include "shell/autostart.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "crypto/certificates.h"
#include "platform/autostart.h"
#include "storage/database.h"
#include "storage/settings.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using test_support::ReadText;

class AutostartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_CONFIG_HOME", (config.path + "cfg").c_str(), 1);
    ASSERT_TRUE(storage::OpenDatabase(program.path + "TS.db", storage::kSchemaScript));
    storage::LoadSettings();
    fs::copy(std::string(AIS_SIM_TEST_PKI), store.path, fs::copy_options::recursive);
    setenv("TESSARIN_CERTSTORE", store.path.c_str(), 1);
    ASSERT_GT(crypto::ListCertificates(), 0);
    crypto::SelectCertificate(0);
    crypto::CertificateEntry entry;
    ASSERT_TRUE(crypto::GetSelectedEntry(&entry));
    ownFile = folder() + "Tessarin " + std::string(entry.unpText.begin(), entry.unpText.end()) + ".desktop";
  }
  void TearDown() override {
    crypto::SelectCertificate(-1);
    storage::CloseDatabase();
    unsetenv("TESSARIN_CERTSTORE");
    unsetenv("XDG_CONFIG_HOME");
  }
  std::string folder() const { return config.path + "cfg/autostart/"; }
  size_t EntryCount() const {
    std::error_code ignored;
    size_t count = 0;
    for (const auto& item : fs::directory_iterator(folder(), ignored)) count += item.is_regular_file();
    return count;
  }
  std::string ErrorLog() const {
    std::string text;
    std::error_code ignored;
    for (const auto& item : fs::recursive_directory_iterator(logs.folder.path + "Tessarin/Error", ignored)) {
      if (item.is_regular_file()) text += ReadText(item.path().string());
    }
    return text;
  }
  test_support::ScopedLogFolder logs;
  test_support::TempFolder config, program, store;
  std::string ownFile;
  const std::string exe = "/opt/Tessarin Client/Tessarin";
};

TEST_F(AutostartTest, TheEntryFollowsTheSettingAndAnyEntryHoldingThePathCounts) {
  // Off and not registered: nothing is written.
  shell::UpdateAutostart(exe);
  EXPECT_EQ(EntryCount(), 0u);

  // On: one entry under "Tessarin <УНП>", the path quoted for its space.
  storage::SetSettingInt("IDC_RUN", 1);
  shell::UpdateAutostart(exe);
  ASSERT_TRUE(fs::exists(ownFile));
  EXPECT_NE(ReadText(ownFile).find("\nExec=\"/opt/Tessarin Client/Tessarin\"\n"), std::string::npos);
  std::vector<platform::AutostartEntry> entries;
  ASSERT_TRUE(platform::ListAutostartEntries(&entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].command, exe);

  // Off: the entry goes.
  storage::SetSettingInt("IDC_RUN", 0);
  shell::UpdateAutostart(exe);
  EXPECT_EQ(EntryCount(), 0u);

  // On, with an entry of another name whose command holds the path (its
  // space escaped the other way): no second entry.
  test_support::WriteText(folder() + "mine.desktop",
                          "[Desktop Entry]\nType=Application\nExec=/opt/Tessarin\\sClient/Tessarin --quiet\n");
  storage::SetSettingInt("IDC_RUN", 1);
  shell::UpdateAutostart(exe);
  EXPECT_EQ(EntryCount(), 1u);
  EXPECT_FALSE(fs::exists(ownFile));
  // Off: the current name is deleted, which is not there: an error line,
  // and the other entry stays.
  storage::SetSettingInt("IDC_RUN", 0);
  shell::UpdateAutostart(exe);
  EXPECT_EQ(EntryCount(), 1u);
  EXPECT_NE(ErrorLog().find("RegDeleteValueW"), std::string::npos);
}

TEST_F(AutostartTest, QuotingAndNoCertificate) {
  // Characters the desktop would take apart come back as they were.
  const std::string odd = "/opt/a \"b\" $c `d` 50% e\\f/Tessarin";
  storage::SetSettingInt("IDC_RUN", 1);
  shell::UpdateAutostart(odd);
  std::vector<platform::AutostartEntry> entries;
  ASSERT_TRUE(platform::ListAutostartEntries(&entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].command, odd);
  EXPECT_EQ(platform::AutostartExecValue(odd), "\"/opt/a \\\"b\\\" \\$c \\`d\\` 50%% e\\\\\\\\f/Tessarin\"");
  fs::remove(ownFile);

  crypto::SelectCertificate(-1);
  shell::UpdateAutostart(exe);
  EXPECT_EQ(EntryCount(), 0u);
  EXPECT_NE(ErrorLog().find("Не выбран сертификат"), std::string::npos);
}

}  // namespace
