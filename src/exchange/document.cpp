// Viewing and saving stored documents (see document.h).
#include "exchange/document.h"

#include <optional>

#include "core/folders.h"
#include "core/log.h"
#include "core/text.h"
#include "crypto/certificates.h"
#include "crypto/cms.h"
#include "crypto/verify.h"
#include "exchange/session.h"
#include "exchange/status_lines.h"
#include "link/frame.h"
#include "link/payload.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/ui.h"

namespace exchange {

namespace {

const wchar_t kUnreadable[] = L"Ошибка при получении данных из сообщения";
const wchar_t kFolderUnavailable[] = L" - указанный каталог не доступен.";

std::wstring WidePath(const std::string& path) { return core::ToWide(path, core::kCodePageUtf8); }

// The outcome of a signature check.
struct Verified {
  int result = -1;                   // VerifyMessageSignature's result
  crypto::DataBlock content;         // the signed content when every signature holds
  std::wstring report;               // the report
  uint8_t verdict = crypto::kVerdictNone;
};

Verified Verify(const std::vector<uint8_t>& message) {
  Verified verified;
  int signatures = 0;
  verified.result = crypto::VerifyMessageSignature(crypto::MakeBlock(message), &signatures, &verified.content,
                                                   &verified.report, &verified.verdict);
  return verified;
}

// A row stored still encrypted: decrypt it, unpack it as intake does, and
// store the decrypted form. The page is shown from the decrypted data even
// when storing it fails.
std::optional<std::vector<uint8_t>> DecryptStored(const storage::MessageEntry& entry,
                                                  const storage::StoredMessage& row) {
  core::LogInfo("Try decrypt message");
  crypto::CertificateEntry own;
  if (!crypto::GetSelectedEntry(&own)) return std::nullopt;
  crypto::DataBlock plain;
  if (!crypto::DecryptMessage(crypto::MakeBlock(row.message), own.keyId, &plain)) return std::nullopt;
  serverlink::ExchangeRecord record;
  record.type = static_cast<uint8_t>(row.type);
  record.payload = crypto::BlockBytes(plain);
  record.payloadLength = plain.count;
  serverlink::ExpandPayload(&record);
  if (record.type == 62) record.type = 52;
  storage::StoreDecrypted(entry.id, record.payload, record.type);
  return record.payload;
}

std::wstring Show(const storage::MessageEntry& entry, bool show, bool* ok, uint8_t* verdict, std::string* webPage) {
  std::optional<storage::StoredMessage> row = storage::SelectForShow(entry.id);
  if (!row) return std::wstring();
  Verified verified = Verify(row->message);
  if (verified.result < 0) {
    if (std::optional<std::vector<uint8_t>> plain = DecryptStored(entry, *row)) verified = Verify(*plain);
  }
  *verdict = verified.verdict;
  const std::wstring report = core::ReplaceAll(verified.report, L"\r\n", L"<BR>", false);
  if (verified.result != 1) {
    ShowLine(kUnreadable);
    core::LogError(core::ToNarrow(kUnreadable, core::kCodePageUtf8), 0);
    return report;
  }
  *ok = true;
  if (!show && webPage == nullptr) return report;

  std::vector<uint8_t> content = crypto::BlockBytes(verified.content);
  std::string page(content.begin(), content.end());
  page += "<BR>";
  page += core::ToNarrow(report, core::kCodePageUtf8);
  if (show) {
    const std::string path = core::ProgramFolder() + kTemporaryPage;
    if (!platform::WriteWholeFile(path, page.data(), page.size())) {
      ShowLine(WidePath(path) + kFolderUnavailable);
    } else {
      platform::ShellOpen(path);
    }
  } else {
    *webPage = std::move(page);
  }
  return report;
}

std::wstring Save(const storage::MessageEntry& entry) {
  std::optional<storage::StoredMessage> row = storage::SelectForShow(entry.id);
  if (!row) return std::wstring();
  const std::string path = SavedDocumentPath(row->number);
  if (!platform::WriteWholeFile(path, row->message.data(), row->message.size())) {
    std::wstring text = WidePath(path) + kFolderUnavailable;
    ShowLine(text);
    return text;
  }
  std::wstring text = L"Электронный документ сохранен " + WidePath(path);
  ShowLine(text);
  if (!WebInterfaceActive()) platform::ui::MessageBox(text, L"", platform::ui::Buttons::Ok);
  return text;
}

}  // namespace

std::wstring ShowDocument(int position, bool show, bool* ok, uint8_t* verdict, std::string* webPage) {
  *ok = false;
  *verdict = crypto::kVerdictNone;
  std::optional<storage::MessageEntry> entry = storage::MessageAt(position);
  if (!entry) {
    core::LogInfo("ShowDocument");
    return std::wstring();
  }
  return ShowDocumentOf(*entry, show, ok, verdict, webPage);
}

std::wstring ShowDocumentOf(const storage::MessageEntry& entry, bool show, bool* ok, uint8_t* verdict,
                            std::string* webPage) {
  core::LogInfo("ShowDocument");
  *ok = false;
  *verdict = crypto::kVerdictNone;
  try {
    return Show(entry, show, ok, verdict, webPage);
  } catch (...) {
    core::LogException("ShowDocument");
    *ok = false;
    return std::wstring();
  }
}

std::string SavedDocumentPath(const storage::MessageNumber& number) {
  return core::DocumentsFolder() + serverlink::FormatNumber(serverlink::ReadNumber(number.data())) + ".html.sgn";
}

std::wstring SaveDocument(int position) {
  std::optional<storage::MessageEntry> entry = storage::MessageAt(position);
  if (!entry) return std::wstring();
  return SaveDocumentOf(*entry);
}

std::wstring SaveDocumentOf(const storage::MessageEntry& entry) {
  try {
    return Save(entry);
  } catch (...) {
    core::LogException("SaveDocument");
    return std::wstring();
  }
}

}  // namespace exchange
