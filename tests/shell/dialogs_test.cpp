// The dialogs' models without a server: the parameters dialog's fields,
// enabling and OK; the certificate choice; the refusal reasons; a refused
// message in the message dialog.
#include <sqlite3.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "core/folders.h"
#include "crypto/certificates.h"
#include "exchange/intake.h"
#include "exchange/reply.h"
#include "exchange/result_codes.h"
#include "platform/paths.h"
#include "platform/ui.h"
#include "shell/certificate_dialog.h"
#include "shell/main_window.h"
#include "shell/message_dialog.h"
#include "shell/parameters_dialog.h"
#include "shell/refusal_dialog.h"
#include "shell/work.h"
#include "storage/database.h"
#include "storage/messages.h"
#include "storage/settings.h"
#include "test_support.h"
#include "web/listener.h"

namespace {

namespace ui = platform::ui;
using shell::FieldEdit;
using shell::ParametersOk;

class DialogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui::ResetForTest();
    ui::CreateMainWindow(L"Tessarin", 600, 600);
    ASSERT_TRUE(storage::OpenDatabase(program.path + "TS.db", storage::kSchemaScript));
    storage::LoadSettings();
    core::SetProgramFolder(program.path);
  }
  void TearDown() override {
    shell::ResetWorkForTest();
    storage::CloseDatabase();
    ui::ResetForTest();
  }

  shell::ParametersField& Field(const char* name) { return *shell::FindParametersField(&dialog, name); }
  FieldEdit Edit(const char* name, const std::wstring& value) {
    return shell::EditParametersField(&dialog, &Field(name), value);
  }
  // The settings as the database holds them.
  static std::wstring Stored(const char* name) {
    storage::LoadSettings();
    return storage::GetSettingText(name).value_or(L"<none>");
  }

  test_support::ScopedLogFolder logs;
  test_support::TempFolder program;
  shell::ParametersDialog dialog;
};

TEST_F(DialogsTest, FieldsAreFilledWhateverTheBoxesAndOkAfterAClickKeepsTheHiddenOnes) {
  storage::SetSettingInt("IDC_SERVICE", 1);
  storage::SetSettingText("IDC_PATH", L"/exchange/");
  storage::SetSettingText("IDC_FACE", L"директора Иванова И.И.");
  storage::SetSettingText("IDC_PROXY_A", L"proxy.local");
  storage::SetSettingText("IDC_PASS", L"12345678");
  storage::SetSettingText("IDC_PHONE", L"+375 17 000");
  shell::OpenParametersDialog(&dialog);

  EXPECT_TRUE(Field("path").enabled);
  EXPECT_FALSE(Field("face").enabled);
  EXPECT_FALSE(Field("proxyaddr").enabled);
  EXPECT_FALSE(Field("pass").enabled) << "no certificate yet";
  EXPECT_EQ(shell::ShownValue(Field("pass")), L"********");
  EXPECT_EQ(Field("branch").text, shell::kBranchFieldText);
  EXPECT_FALSE(Field("branch").enabled);
  EXPECT_EQ(Edit("face", L"x"), FieldEdit::Disabled);
  EXPECT_EQ(Edit("phone", L"x"), FieldEdit::ReadOnly);

  // A click on a box changes only the enabling.
  EXPECT_EQ(Edit("service", L"0"), FieldEdit::Done);
  EXPECT_EQ(Edit("proxy", L"1"), FieldEdit::Done);
  EXPECT_FALSE(Field("path").enabled);
  EXPECT_TRUE(Field("face").enabled);
  EXPECT_TRUE(Field("proxyaddr").enabled);
  EXPECT_EQ(Field("path").text, L"/exchange/");
  EXPECT_EQ(Edit("proxyport", L"80a"), FieldEdit::NotDigits);
  EXPECT_EQ(Edit("proxy", L"yes"), FieldEdit::NotCheck);

  storage::SetSettingText("IDC_PHONE", L"+375 17 111");  // the web page changed it meanwhile
  EXPECT_EQ(shell::ConfirmParametersDialog(dialog), ParametersOk::Closed);
  EXPECT_EQ(Stored("IDC_PATH"), L"/exchange/");
  EXPECT_EQ(Stored("IDC_FACE"), L"директора Иванова И.И.");
  EXPECT_EQ(Stored("IDC_PROXY_A"), L"proxy.local");
  EXPECT_EQ(Stored("IDC_PHONE"), L"+375 17 111");
  EXPECT_EQ(storage::GetSettingInt("IDC_SERVICE"), 0);
  EXPECT_EQ(storage::GetSettingInt("IDC_PROXY_USE"), 1);
  EXPECT_FALSE(storage::GetSettingText("IDC_BRANCH"));

  // The folder choice adds the separator once.
  std::string folder = program.path + "exchange";
  shell::ChooseParametersFolder(&dialog, folder);
  EXPECT_EQ(Field("path").text, std::wstring(folder.begin(), folder.end()) + wchar_t(platform::kPathSeparator));
  shell::ChooseParametersFolder(&dialog, folder + platform::kPathSeparator);
  EXPECT_EQ(Field("path").text, std::wstring(folder.begin(), folder.end()) + wchar_t(platform::kPathSeparator));
}

TEST_F(DialogsTest, AnEmailIsEmptyOrHasFiveCharactersWithAnAt) {
  storage::SetSettingText("IDC_FACE", L"прежнее");
  storage::SaveSettings();
  shell::OpenParametersDialog(&dialog);
  Edit("face", L"новое");
  Edit("email", L"a@bc");
  testing::internal::CaptureStdout();
  EXPECT_EQ(shell::ConfirmParametersDialog(dialog), ParametersOk::Stay);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("Реквизит <Email> не соответствует формату."), std::string::npos);
  EXPECT_EQ(Stored("IDC_FACE"), L"прежнее") << "nothing stored";
  EXPECT_EQ(Stored("IDC_EMAIL"), L"<none>");

  Edit("email", L"a@b.c");
  EXPECT_EQ(shell::ConfirmParametersDialog(dialog), ParametersOk::Closed);
  EXPECT_EQ(Stored("IDC_EMAIL"), L"a@b.c");
  EXPECT_EQ(Stored("IDC_FACE"), L"новое");
  Edit("email", L"");
  EXPECT_EQ(shell::ConfirmParametersDialog(dialog), ParametersOk::Closed);
  EXPECT_EQ(Stored("IDC_EMAIL"), L"");
}

TEST_F(DialogsTest, TheWebSwitchSavesThenEndsTheClientWithZero) {
  setenv("TESSARIN_WEB_PORT", "0", 1);  // the switch starts a listener: on a free port
  shell::OpenParametersDialog(&dialog);
  Edit("web", L"1");
  Edit("name", L"Иванов И.И.");
  EXPECT_EQ(shell::ConfirmParametersDialog(dialog), ParametersOk::Ended);
  EXPECT_EQ(Stored("IDC_NAME"), L"Иванов И.И.");
  EXPECT_TRUE(std::filesystem::exists(program.path + "interface.web"));
  ui::PostQuit(7);  // a later end does not replace the first one's code
  EXPECT_EQ(ui::RunMessageLoop(), 0);
  web::StopWebListener();
}

TEST_F(DialogsTest, TheChosenCertificateIsSelectedAndFillsTheSettingsField) {
  test_support::TempFolder store;
  std::filesystem::copy(std::string(AIS_SIM_TEST_PKI), store.path, std::filesystem::copy_options::recursive);
  setenv("TESSARIN_CERTSTORE", store.path.c_str(), 1);
  shell::OpenParametersDialog(&dialog);
  shell::CertificateDialog certificates;
  shell::OpenCertificateDialog(&certificates);
  ASSERT_GT(certificates.rows.size(), 1u);
  EXPECT_FALSE(shell::ChooseCertificateRow(certificates, -1));

  ui::StatusListInsertTop(L"older");
  ui::StatusListInsertTop(L"newer");
  ASSERT_TRUE(shell::ChooseCertificateRow(certificates, 1));
  EXPECT_EQ(crypto::SelectedCertificate(), 1);
  EXPECT_EQ(storage::GetSettingText("IDC_CERT"), certificates.rows[1][4]);
  EXPECT_EQ(ui::StatusListLines().size(), 1u);
  shell::AfterCertificateChoice(&dialog);
  EXPECT_EQ(Field("cert").text, certificates.rows[1][4]);
  EXPECT_TRUE(Field("pass").enabled);
  crypto::SelectCertificate(-1);
  unsetenv("TESSARIN_CERTSTORE");
}

TEST_F(DialogsTest, TheSeparatorCannotEnableTheRefusalAndAProposedCodeOffersOnlyItself) {
  shell::RefusalDialog refusal;
  shell::FillRefusalDialog(0, &refusal);
  ASSERT_EQ(refusal.entries.size(), 8u);
  EXPECT_EQ(refusal.entries[4].text, shell::kRefusalSeparator);
  EXPECT_FALSE(shell::ChooseRefusalEntry(&refusal, 4));
  shell::TickRefusalBox(&refusal, true);
  EXPECT_FALSE(refusal.continueEnabled);

  // A reason ticked, then the separator: nothing can be sent.
  EXPECT_TRUE(shell::ChooseRefusalEntry(&refusal, 0));
  shell::TickRefusalBox(&refusal, true);
  EXPECT_EQ(shell::RefusalCode(refusal), 121);
  shell::ChooseRefusalEntry(&refusal, 4);
  EXPECT_FALSE(refusal.continueEnabled);
  EXPECT_EQ(shell::RefusalCode(refusal), 0);

  shell::FillRefusalDialog(114, &refusal);
  ASSERT_EQ(refusal.entries.size(), 1u);
  EXPECT_EQ(refusal.entries[0].text, exchange::RefusalText(114));
  EXPECT_TRUE(refusal.boxEnabled);
  EXPECT_FALSE(refusal.continueEnabled);
  shell::TickRefusalBox(&refusal, true);
  EXPECT_EQ(shell::RefusalCode(refusal), 114);
}

TEST_F(DialogsTest, ARefusedMessageIsShownRedWithoutSignAndRefuse) {
  storage::MessageEntry entry;
  entry.type = storage::kMessageDocument;
  entry.status = 121;
  shell::MessageDialog message;
  shell::BuildMessageDialog(entry, &message);
  EXPECT_FALSE(message.verified);
  EXPECT_FALSE(message.canSign);
  EXPECT_FALSE(message.canRefuse);
  EXPECT_NE(message.text.find(exchange::RefusalText(121)), std::wstring::npos);
}

// Years of documents: the window's list counts every row and shows any,
// a deep one opens in the message dialog, and a reply left half-way deep
// in the table is found to be sent again.
TEST_F(DialogsTest, AHundredThousandRowsAreShownOpenedAndTheirSavedReplyFound) {
  setenv("TESSARIN_SERVER", "127.0.0.1:1", 1);
  ASSERT_EQ(sqlite3_exec(storage::Database(),
                         "WITH RECURSIVE n(x) AS (SELECT 0 UNION ALL SELECT x + 1 FROM n WHERE x < 99999) "
                         "INSERT INTO Messages (idm, dateIn, senderUNP, senderBranch, senderName, type, status, message, "
                         "TempSD, TempDFS) SELECT 1000 + x, 1600000000 + x, 190000001, 0, 'ООО Альфа', 52, "
                         "CASE x WHEN 40000 THEN 121 WHEN 30000 THEN 1 ELSE 2 END, x'00', x'01', x'02' FROM n",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  shell::CreateControls();
  exchange::LoadMessagesFromBase();
  EXPECT_EQ(ui::Controls().rowCount, 100000);
  // Newest first: x = 40000 is row 59 999.
  EXPECT_EQ(ui::MessageListRow(59999), (std::vector<std::wstring>{storage::FormatMessageDate(1600040000), L"ООО Альфа",
                                                                   L"190000001", L"Электронный документ", L"Отклонен"}));
  EXPECT_TRUE(ui::MessageListRow(100000).empty());
  shell::MessageDialog message;
  shell::BuildMessageDialog(*storage::MessageAt(59999), &message);
  EXPECT_NE(message.text.find(exchange::RefusalText(121)), std::wstring::npos);
  const std::vector<storage::MessageEntry> sending = exchange::SendingRows();
  ASSERT_EQ(sending.size(), 1u);
  EXPECT_EQ(sending[0].idm, 31000);
  EXPECT_EQ(sending[0].row, 69999);
  unsetenv("TESSARIN_SERVER");
  exchange::ResetReplyStateForTest();
  exchange::ResetIntakeStateForTest();
}

}  // namespace
