// The dialogs as windows, on the Wine desktop: each opens in this process
// from the program's templates while a second thread finds it, reads its
// controls, clicks them and ends it. TESSARIN_TEST_PKI names the RSA test
// PKI that the certificate choice lists. With TESSARIN_DIALOG_SHOTS set (a
// folder) each dialog waits there for its screenshot: the test writes
// NAME.ready and goes on once wine_dialogs.sh has written NAME.shot.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "core/folders.h"
#include "crypto/provider/test_stores.h"
#include "exchange/result_codes.h"
#include "exchange/session.h"
#include "shell/about_dialog.h"
#include "shell/agreement_dialog.h"
#include "shell/dialog_windows.h"
#include "shell/parameters_dialog.h"
#include "storage/database.h"
#include "storage/messages.h"
#include "storage/settings.h"
#include "test_support.h"

namespace {

// Polls until the condition holds, at most about 30 s; the dialogs open and
// close on the other thread at their own pace.
bool WaitFor(const std::function<bool()>& condition) {
  for (int i = 0; i < 300; ++i) {
    if (condition()) return true;
    Sleep(100);
  }
  return condition();
}

HWND WaitForDialog(const wchar_t* title) {
  HWND found = nullptr;
  WaitFor([&] { return IsWindowVisible(found = FindWindowW(L"#32770", title)) != FALSE; });
  return found;
}

// The message box or picker a dialog owns, once it is shown (Wine has no
// GW_ENABLEDPOPUP).
HWND WaitForBox(HWND owner) {
  std::pair<HWND, HWND> search{owner, nullptr};
  auto owned = [](HWND window, LPARAM data) -> BOOL {
    auto* search = reinterpret_cast<std::pair<HWND, HWND>*>(data);
    if (GetWindow(window, GW_OWNER) != search->first || !IsWindowVisible(window)) return TRUE;
    search->second = window;
    return FALSE;
  };
  WaitFor([&] {
    EnumThreadWindows(GetWindowThreadProcessId(owner, nullptr), owned, reinterpret_cast<LPARAM>(&search));
    return search.second != nullptr;
  });
  return search.second;
}

std::wstring TextOf(HWND window) {
  wchar_t text[8192] = {};
  GetWindowTextW(window, text, 8192);
  return text;
}
std::wstring Text(HWND dialog, int control) { return TextOf(GetDlgItem(dialog, control)); }
bool Enabled(HWND dialog, int control) { return IsWindowEnabled(GetDlgItem(dialog, control)) != FALSE; }
bool Checked(HWND dialog, int control) {
  return SendDlgItemMessageW(dialog, control, BM_GETCHECK, 0, 0) == BST_CHECKED;
}
// A click that opens nothing modal: done when it returns.
void Click(HWND dialog, int control) { SendDlgItemMessageW(dialog, control, BM_CLICK, 0, 0); }
// A click whose handler may open a box or end the dialog.
void Press(HWND dialog, int control) { PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(control, BN_CLICKED), 0); }
bool Gone(HWND window) {
  return WaitFor([&] { return !IsWindow(window); });
}

// Answers the box the dialog shows with the button given and gives its
// caption and text.
std::wstring AnswerBox(HWND owner, int button) {
  HWND box = WaitForBox(owner);
  if (box == nullptr) return L"<no box>";
  std::wstring shown = TextOf(box) + L"|" + Text(box, 0xFFFF);
  Press(box, button);
  Gone(box);
  SendMessageW(owner, WM_NULL, 0, 0);
  return shown;
}

// The text colour the dialog gives its control.
COLORREF TextColour(HWND dialog, int control) {
  HWND field = GetDlgItem(dialog, control);
  HDC context = GetDC(field);
  SetTextColor(context, RGB(1, 2, 3));
  SendMessageW(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(context), reinterpret_cast<LPARAM>(field));
  COLORREF colour = GetTextColor(context);
  ReleaseDC(field, context);
  return colour;
}

void Screenshot(const std::string& name) {
  const char* folder = std::getenv("TESSARIN_DIALOG_SHOTS");
  if (folder == nullptr) return;
  const std::string base = std::string(folder) + "/" + name;
  std::ofstream(base + ".ready").put('\n');
  EXPECT_TRUE(WaitFor([&] { return std::ifstream(base + ".shot").good(); })) << "no screenshot of " << name;
}

class DialogWindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(storage::OpenDatabase(program.path + "TS.db", storage::kSchemaScript));
    storage::LoadSettings();
    core::SetProgramFolder(program.path);
  }
  void TearDown() override { storage::CloseDatabase(); }

  // Opens a dialog on this thread (open returns when it has ended) while
  // drive works it from a second thread once it is shown.
  static void WithDialog(const wchar_t* title, const std::function<void()>& open,
                         const std::function<void(HWND)>& drive) {
    std::thread driver([&] {
      HWND dialog = WaitForDialog(title);
      ASSERT_NE(dialog, nullptr) << "the dialog did not open";
      drive(dialog);
      EXPECT_TRUE(Gone(dialog)) << "the dialog did not end";
    });
    open();
    driver.join();
  }

  test_support::ScopedLogFolder logs;
  test_support::TempFolder program;
};

TEST_F(DialogWindowsTest, AboutShowsTheVersion) {
  WithDialog(L"О проекте ", shell::ShowAboutWindow, [](HWND about) {
    EXPECT_EQ(Text(about, 1018), L"Tessarin, версия 3.14.9-MT");
    EXPECT_EQ(Text(about, 1019), shell::kAboutDescription);
    Screenshot("about");
    Press(about, IDOK);
  });
}

// The boxes decide the enabling; a four-character address is refused with
// the dialog left open; Cancel stores nothing.
TEST_F(DialogWindowsTest, ParametersFollowTheBoxesRefuseAShortEmailAndCancelStoresNothing) {
  storage::SetSettingText("IDC_FACE", L"директора Иванова И.И.");
  storage::SetSettingText("IDC_PATH", L"C:\\windows\\");
  storage::SetSettingText("IDC_EMAIL", L"old@mail.by");
  storage::SaveSettings();
  WithDialog(L"Параметры", shell::ShowParametersWindow, [](HWND parameters) {
    EXPECT_EQ(Text(parameters, 1007), shell::kBranchFieldText);
    EXPECT_FALSE(Enabled(parameters, 1007));
    EXPECT_FALSE(Enabled(parameters, 1014));
    EXPECT_FALSE(Enabled(parameters, 1003)) << "no certificate yet";
    EXPECT_EQ(Text(parameters, 1002), L"директора Иванова И.И.");
    EXPECT_TRUE(Enabled(parameters, 1002));
    EXPECT_EQ(Text(parameters, 1016), L"C:\\windows\\");
    EXPECT_FALSE(Enabled(parameters, 1016));
    EXPECT_FALSE(Enabled(parameters, 1012));
    Screenshot("parameters");

    Click(parameters, 1013);
    Click(parameters, 1028);
    EXPECT_TRUE(Checked(parameters, 1013));
    EXPECT_TRUE(Enabled(parameters, 1016));
    for (int control : {1002, 1005, 1006, 1008}) EXPECT_FALSE(Enabled(parameters, control)) << control;
    for (int control : {1019, 1012, 1009, 1010, 1011}) EXPECT_TRUE(Enabled(parameters, control)) << control;
    EXPECT_EQ(Text(parameters, 1002), L"директора Иванова И.И.") << "a click changes only the enabling";

    SetDlgItemTextW(parameters, 1038, L"a@bc");
    SetDlgItemTextW(parameters, 1039, L"Петров П.П.");
    Press(parameters, IDOK);
    EXPECT_EQ(AnswerBox(parameters, IDOK), std::wstring(L"|") + shell::kEmailFormatMessage);
    EXPECT_TRUE(IsWindowVisible(parameters)) << "the dialog stays";
    Screenshot("parameters-service");
    // The folder picker starts at the folder of the settings; the folder
    // chosen comes back with its separator.
    Press(parameters, 1024);
    HWND picker = WaitForBox(parameters);
    ASSERT_NE(picker, nullptr);
    EXPECT_NE(FindWindowExW(picker, nullptr, L"Static", L"Укажите каталог обмена"), nullptr);
    HWND tree = FindWindowExW(picker, nullptr, L"SysTreeView32", nullptr);
    wchar_t selected[64] = {};
    TVITEMW item{};
    item.mask = TVIF_TEXT;
    item.hItem = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    item.pszText = selected;
    item.cchTextMax = 64;
    SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item));
    EXPECT_EQ(_wcsicmp(selected, L"windows"), 0) << selected;
    Screenshot("folder");
    Press(picker, IDOK);
    EXPECT_TRUE(Gone(picker));
    SendMessageW(parameters, WM_NULL, 0, 0);
    EXPECT_EQ(_wcsicmp(Text(parameters, 1016).c_str(), L"C:\\windows\\"), 0) << Text(parameters, 1016);
    Press(parameters, IDCANCEL);
  });
  storage::LoadSettings();
  EXPECT_EQ(storage::GetSettingText("IDC_EMAIL"), L"old@mail.by");
  EXPECT_EQ(storage::GetSettingInt("IDC_SERVICE"), 0);
  EXPECT_FALSE(storage::GetSettingText("IDC_EDS_FIO"));
}

// OK in the certificate choice without a row says so and stays; a
// double-click on a row selects it and the parameters dialog shows it with
// the password field enabled.
TEST_F(DialogWindowsTest, AChosenCertificateFillsTheParameters) {
  const char* pki = std::getenv("TESSARIN_TEST_PKI");
  if (pki == nullptr) GTEST_SKIP() << "TESSARIN_TEST_PKI names no test PKI";
  ASSERT_EQ(crypto::provider::InstallTestPki(pki), 0u);
  std::wstring chosen;
  WithDialog(L"Параметры", shell::ShowParametersWindow, [&chosen](HWND parameters) {
    Press(parameters, 1004);
    HWND certificates = WaitForDialog(L"Выбор сертификата");
    ASSERT_NE(certificates, nullptr);
    HWND list = GetDlgItem(certificates, 1000);
    ASSERT_GT(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 1);
    EXPECT_EQ(SendMessageW(reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0)), HDM_GETITEMCOUNT, 0, 0), 6);
    Press(certificates, IDOK);
    EXPECT_EQ(AnswerBox(certificates, IDOK), L"Выбор сертификатата|Сертификат не выбран") << "no row selected yet";
    wchar_t id[128] = {};
    LVITEMW item{};
    item.iSubItem = 4;
    item.pszText = id;
    item.cchTextMax = 128;
    SendMessageW(list, LVM_GETITEMTEXTW, 1, reinterpret_cast<LPARAM>(&item));
    chosen = id;
    EXPECT_EQ(chosen.size(), 40u) << "the key identifier in hexadecimal";
    Screenshot("certificate");
    NMITEMACTIVATE click{};
    click.hdr = {list, 1000, static_cast<UINT>(NM_DBLCLK)};
    click.iItem = 1;
    SendMessageW(certificates, WM_NOTIFY, 1000, reinterpret_cast<LPARAM>(&click));
    EXPECT_TRUE(Gone(certificates));
    EXPECT_EQ(Text(parameters, 1017), chosen);
    EXPECT_TRUE(Enabled(parameters, 1003));
    Press(parameters, IDCANCEL);
  });
  EXPECT_EQ(storage::GetSettingText("IDC_CERT"), chosen);
  EXPECT_EQ(crypto::provider::RemoveTestPki(pki), 0u);
}

// A refused document is red without "Подписать" and "Отказаться"; a
// certificate request is black without "Показать" and "Выгрузить", and its
// refusal dialog offers the reasons, the separator enabling nothing.
TEST_F(DialogWindowsTest, MessagesShowTheirStateAndTheRefusalNeedsAReasonAndTheBox) {
  storage::NewMessage request;
  request.idm = 1;
  request.dateIn = 1700000000;
  request.senderName = "ООО Альфа";
  request.type = storage::kMessageCertificateRequest;
  request.message = {1, 2, 3};
  storage::NewMessage document = request;
  document.idm = 2;
  document.dateIn = 1700000100;
  document.type = storage::kMessageDocument;
  ASSERT_EQ(storage::InsertMessage(request), 0);
  ASSERT_EQ(storage::InsertMessage(document), 0);
  ASSERT_EQ(storage::RebuildMessageList(), 2u);
  ASSERT_TRUE(storage::SetMessageStatus(0, storage::MessageAt(0)->id, 121));

  WithDialog(L"Сообщение", [] { shell::ShowMessageWindow(0); }, [](HWND message) {
    EXPECT_NE(Text(message, 1003).find(exchange::RefusalText(121)), std::wstring::npos);
    EXPECT_EQ(TextColour(message, 1003), RGB(255, 0, 0));
    DWORD start = 1, end = 0;
    SendDlgItemMessageW(message, 1003, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, end) << "no selection hides the colour";
    EXPECT_FALSE(Enabled(message, 1));
    EXPECT_FALSE(Enabled(message, 6));
    Screenshot("message-refused");
    Press(message, IDCANCEL);
  });

  WithDialog(L"Сообщение", [] { shell::ShowMessageWindow(1); }, [](HWND message) {
    EXPECT_NE(Text(message, 1003).find(L"Документ: Запрос на получение СОК"), std::wstring::npos);
    EXPECT_EQ(TextColour(message, 1003), RGB(0, 0, 0));
    EXPECT_FALSE(Enabled(message, 3));
    EXPECT_FALSE(Enabled(message, 4));
    EXPECT_TRUE(Enabled(message, 1));
    Screenshot("message-request");
    Press(message, 1);
    EXPECT_EQ(AnswerBox(message, IDNO), L"Подпись электронного документа|Подписать электронный документ?");

    Press(message, 6);
    HWND refusal = WaitForDialog(L"Отказ от подписания документа");
    ASSERT_NE(refusal, nullptr);
    HWND reasons = GetDlgItem(refusal, 1019);
    EXPECT_EQ(SendMessageW(reasons, CB_GETCOUNT, 0, 0), 8);
    EXPECT_FALSE(Enabled(refusal, 1001));
    EXPECT_FALSE(Enabled(refusal, 1020));
    auto choose = [&](int index) {
      SendMessageW(reasons, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
      SendMessageW(refusal, WM_COMMAND, MAKEWPARAM(1019, CBN_SELCHANGE), reinterpret_cast<LPARAM>(reasons));
    };
    choose(4);
    EXPECT_FALSE(Enabled(refusal, 1001)) << "the separator is no reason";
    choose(0);
    Click(refusal, 1001);
    EXPECT_TRUE(Enabled(refusal, 1020));
    Screenshot("refusal");
    Press(refusal, 1);
    EXPECT_TRUE(Gone(refusal));
    SendMessageW(message, WM_NULL, 0, 0);
    EXPECT_TRUE(IsWindowVisible(message)) << "closing the refusal leaves the message open";
    Press(message, IDCANCEL);
  });
}

TEST_F(DialogWindowsTest, TheAgreementContinuesOnlyWithTheBoxTicked) {
  int result = 0;
  WithDialog(L"Соглашение", [&] { result = shell::ShowAgreementWindow(); }, [](HWND agreement) {
    EXPECT_EQ(Text(agreement, 1003).substr(0, 20), std::wstring(shell::kAgreementText).substr(0, 20));
    EXPECT_FALSE(Enabled(agreement, 1));
    EXPECT_EQ(SendDlgItemMessageW(agreement, 1003, EM_GETFIRSTVISIBLELINE, 0, 0), 0) << "the text opens at its start";
    Click(agreement, 1001);
    EXPECT_TRUE(Enabled(agreement, 1));
    Screenshot("agreement");
    Press(agreement, 1);
  });
  EXPECT_EQ(result, shell::kAgreementContinue);
  EXPECT_TRUE(exchange::Registered());
}

}  // namespace
