// Replies to received messages (see reply.h; the steps in
// docs/exchange.md).
#include "exchange/reply.h"

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <set>

#include "core/log.h"
#include "core/text.h"
#include "crypto/certificates.h"
#include "crypto/cms.h"
#include "exchange/intake.h"
#include "exchange/result_codes.h"
#include "exchange/session.h"
#include "exchange/status_lines.h"
#include "link/frame.h"
#include "link/payload.h"
#include "platform/clock.h"
#include "shell/status.h"
#include "storage/database.h"
#include "storage/settings.h"

namespace exchange {

namespace {

const wchar_t kPreparationFailed[] = L"Ошибка при подготовке сообщения для Отправителя";

// A requisite that a certificate answer carries, with the message shown
// when it is missing or too short.
struct Requisite {
  const char* setting;      // setting name
  const wchar_t* message;   // shown when it is missing or shorter than `minimum`
  size_t minimum;           // characters
};

const Requisite kRequisites[] = {
    {"IDC_FACE", L"Не заполнен реквизит <В лице>", 5},
    {"IDC_BASE", L"Не заполнен реквизит <действующего на основании>", 5},
    {"IDC_POST", L"Не заполнен реквизит <Должность>", 2},
    {"IDC_NAME", L"Не заполнен реквизит <ФИО руководителя>", 5},
};

// Rows in status 1, by id.
std::mutex sendingMutex;
std::map<int32_t, storage::MessageEntry> sendingRows;

// Rows an operation is answering right now.
std::mutex claimMutex;
std::condition_variable claimReleased;
std::set<int32_t> claimedRows;

bool TryClaim(int32_t id) {
  std::lock_guard<std::mutex> lock(claimMutex);
  return claimedRows.insert(id).second;
}

void Claim(int32_t id) {
  std::unique_lock<std::mutex> lock(claimMutex);
  claimReleased.wait(lock, [id] { return claimedRows.count(id) == 0; });
  claimedRows.insert(id);
}

void Release(int32_t id) {
  {
    std::lock_guard<std::mutex> lock(claimMutex);
    claimedRows.erase(id);
  }
  claimReleased.notify_all();
}

void NoteSending(const storage::MessageEntry& entry) {
  std::lock_guard<std::mutex> lock(sendingMutex);
  sendingRows[entry.id] = entry;
}

void ForgetSending(int32_t id) {
  std::lock_guard<std::mutex> lock(sendingMutex);
  sendingRows.erase(id);
}

// Writes the status into the row's list entry, wherever the list now shows it.
void SetEntryStatus(storage::MessageEntry* entry, int32_t status) {
  entry->status = status;
  if (storage::SetMessageStatus(entry->row, entry->id, status)) return;
  const int row = storage::FindMessageById(entry->id);
  if (row < 0) return;
  entry->row = row;
  storage::SetMessageStatus(row, entry->id, status);
}

void AppendLe(std::vector<uint8_t>* out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// What goes to the server and what the row keeps.
struct Prepared {
  uint8_t type = 0;                  // reply type byte
  std::vector<uint8_t> signedData;   // becomes the row's message once delivered
  std::vector<uint8_t> payload;      // sent as it is
};

bool RequisitesComplete() {
  bool complete = true;
  bool missingSeen = false;
  for (const Requisite& requisite : kRequisites) {
    if (storage::FindSetting(requisite.setting) < 0) missingSeen = true;
    std::wstring text = storage::GetSettingText(requisite.setting).value_or(std::wstring());
    if (missingSeen || text.size() < requisite.minimum) {
      ShowLine(requisite.message);
      complete = false;
    }
  }
  return complete;
}

bool PrepareCertificateAnswer(const storage::StoredMessage& row, const crypto::KeyId& own, Prepared* reply) {
  if (!RequisitesComplete()) return false;
  crypto::DataBlock certificate;
  if (!crypto::GetCertBlob(own, &certificate)) return false;
  std::vector<std::string> requisites;
  for (const Requisite& requisite : kRequisites) {
    requisites.push_back(core::ToNarrow(storage::GetSettingText(requisite.setting).value_or(std::wstring()),
                                        core::kCodePageUtf8));
  }
  std::vector<uint8_t> data = CertificateAnswerData(crypto::BlockBytes(certificate), requisites);
  crypto::KeyId recipient{};
  std::copy(row.senderIKS.begin(), row.senderIKS.end(), recipient.begin());
  crypto::DataBlock envelope;
  if (!crypto::CryptMessageByPublicKey(crypto::MakeBlock(data), own, crypto::MakeBlock(row.message), recipient,
                                       &envelope)) {
    return false;
  }
  reply->type = kTypeCertificateAnswer;
  reply->signedData = row.message;
  reply->payload = crypto::BlockBytes(envelope);
  return true;
}

bool PrepareCoSigned(const storage::StoredMessage& row, const crypto::KeyId& own, Prepared* reply) {
  crypto::KeyId sender{};
  std::copy(row.senderIKS.begin(), row.senderIKS.end(), sender.begin());
  crypto::DataBlock senderCertificate;
  if (!crypto::GetCertFromSignedMessage(crypto::MakeBlock(row.message), sender, &senderCertificate)) {
    ShowLine(L"Ошибка при получении данных из сообщения");
    core::LogError("Ошибка при получении данных из сообщения", 0);
    return false;
  }
  crypto::DataBlock signedDocument;
  if (crypto::SignMessage(crypto::MakeBlock(row.message), own, &signedDocument, true) != 0) {
    ShowLine(L"Ошибка при подписании сообщения");
    core::LogError("Ошибка при подписании сообщения", 0);
    return false;
  }
  serverlink::ExchangeRecord packed;
  packed.type = kTypeCoSigned;
  packed.payload = crypto::BlockBytes(signedDocument);
  serverlink::CompressRecordPayload(&packed);
  crypto::DataBlock envelope;
  std::vector<crypto::Recipient> recipients{{core::Base64Encode(crypto::BlockBytes(senderCertificate)), ""}};
  if (!crypto::CryptMessage(crypto::MakeBlock(packed.payload), recipients, &envelope)) return false;
  reply->type = packed.type;
  reply->signedData = crypto::BlockBytes(signedDocument);
  reply->payload = crypto::BlockBytes(envelope);
  return true;
}

// The type byte of a saved reply sent again: the type it first went out
// with. A co-signed document longer than 1000 bytes was compressed.
uint8_t SavedReplyType(int32_t rowType, const std::vector<uint8_t>& signedData) {
  if (rowType == storage::kMessageCertificateRequest) return kTypeCertificateAnswer;
  return signedData.size() > serverlink::kCompressAbove ? kTypeCoSignedCompressed : kTypeCoSigned;
}

// savedOnly: a list load sends again what a row in status 1 saved, and
// does nothing to a row that has left status 1 meanwhile.
void Answer(storage::MessageEntry entry, bool reload, uint8_t refusalCode, bool savedOnly) {
  const int64_t operationTime = platform::UnixNow();
  if (entry.status == storage::kStatusSigned) {
    ShowLine(L"Сообщение уже подписано !!!");
    return;
  }
  if (!CTS(nullptr)) {
    ShowLine(shell::TrayWarning());
    return;
  }
  std::optional<storage::StoredMessage> row = storage::SelectForSending(entry.id);
  if (!row) return;
  const int32_t startStatus = row->status;
  if (savedOnly && startStatus != storage::kStatusSending) {
    ForgetSending(entry.id);
    return;
  }
  if (startStatus == storage::kStatusSigned) {
    // Signed meanwhile through another window of the program.
    SetEntryStatus(&entry, startStatus);
    ShowLine(L"Сообщение уже подписано !!!");
    return;
  }

  Prepared reply;
  const bool resend = startStatus == storage::kStatusSending;
  if (resend) {
    reply.type = SavedReplyType(row->type, row->tempSD);
    reply.signedData = row->tempSD;
    reply.payload = row->tempDFS;
  }
  if (refusalCode != 0) {
    reply.type = kTypeRefusal;
    reply.payload = {refusalCode};
    reply.signedData = row->message;
  }
  const bool fresh = !resend && refusalCode == 0;
  if (fresh) {
    crypto::CertificateEntry own;
    bool prepared = false;
    if (crypto::GetSelectedEntry(&own)) {
      if (row->type == storage::kMessageCertificateRequest) {
        prepared = PrepareCertificateAnswer(*row, own.keyId, &reply);
      } else if (row->type == storage::kMessageDocument || row->type == 152) {
        prepared = PrepareCoSigned(*row, own.keyId, &reply);
      }
    }
    if (!prepared) {
      core::LogError("Ошибка шифрования сообщения для получателя", 0);
      ShowLine(kPreparationFailed);
      return;
    }
  }

  serverlink::ExchangeRecord request;
  request.flags = serverlink::FlagBits("00101001");
  request.type = reply.type;
  std::copy(row->senderIKS.begin(), row->senderIKS.end(), request.iks.begin());
  request.number = serverlink::ReadNumber(row->number.data());
  request.payload = reply.payload;
  request.payloadLength = static_cast<uint32_t>(request.payload.size());

  if (fresh) {
    // Saved before it leaves: a reply that could not be saved could never
    // be sent again, so it is not sent at all.
    if (!storage::MarkSending(entry.id, operationTime, reply.signedData, reply.payload)) {
      core::LogError("Ошибка сохранения ответа", 0);
      ShowLine(kPreparationFailed);
      return;
    }
    SetEntryStatus(&entry, storage::kStatusSending);
    NoteSending(entry);
  }

  ReplyResult result;
  SendMessageAndGetAnswer(&result, &request);
  bool delivered = result.kind == kReplyAccepted;
  if (!delivered && resend && result.kind == kReplyRefused && result.code == kCodeAlreadyPresent) delivered = true;
  if (delivered) {
    const int32_t finalStatus = refusalCode != 0 ? refusalCode : storage::kStatusSigned;
    if (storage::MarkDelivered(entry.id, finalStatus, operationTime, reply.signedData)) {
      ShowLine(L"Сообщение отправлено Отправителю");
      SetEntryStatus(&entry, finalStatus);
      ForgetSending(entry.id);
    } else {
      // The server has the reply but the row does not say so. A signed
      // reply keeps status 1 and its saved reply, stays among the rows sent
      // again, and the server's code 10 then ends it.
      core::LogError("Ошибка записи отправленного ответа " + storage::DatabaseError(), entry.id);
      ShowLine(refusalCode == 0 ? L"Ответ принят АИС, но не записан в базу. Он будет отправлен повторно."
                                : L"Ответ принят АИС, но не записан в базу.");
    }
  } else {
    const bool alreadyThere = result.code == kCodeAlreadyPresent && !resend;
    ShowLine(alreadyThere ? L"Cообщение уже существует в АИС" : L"Ошибка отправки сообщения");
    core::LogError("Ошибка отправки сообщения", result.code);
  }
  if (reload && entry.status != startStatus) LoadMessagesFromBase();
}

std::wstring AnswerClaimed(const storage::MessageEntry& entry, bool reload, uint8_t refusalCode, bool savedOnly) {
  StatusCollector collector;
  core::LogInfo("CSASM");
  try {
    Answer(entry, reload, refusalCode, savedOnly);
  } catch (...) {
    core::LogException("ClientSingAndSendMessage");
  }
  core::LogInfo("CSASM - end");
  return collector.text;
}

}  // namespace

std::vector<uint8_t> CertificateAnswerData(const std::vector<uint8_t>& certificate,
                                          const std::vector<std::string>& requisites) {
  std::vector<uint8_t> data;
  AppendLe(&data, static_cast<uint32_t>(certificate.size()), 4);
  data.insert(data.end(), certificate.begin(), certificate.end());
  for (const std::string& requisite : requisites) {
    const size_t size = std::min<size_t>(requisite.size(), 0xFFFF);
    AppendLe(&data, static_cast<uint32_t>(size), 2);
    data.insert(data.end(), requisite.begin(), requisite.begin() + static_cast<std::ptrdiff_t>(size));
  }
  return data;
}

std::wstring ClientSingAndSendMessage(int position, bool reload, uint8_t refusalCode) {
  std::optional<storage::MessageEntry> entry = storage::MessageAt(position);
  if (!entry) {
    core::LogValue("CSASM: no message at position", position);
    return std::wstring();
  }
  return AnswerMessage(*entry, reload, refusalCode);
}

std::wstring AnswerMessage(const storage::MessageEntry& entry, bool reload, uint8_t refusalCode) {
  Claim(entry.id);
  std::wstring text = AnswerClaimed(entry, reload, refusalCode, false);
  Release(entry.id);
  return text;
}

std::wstring AnswerUnansweredMessage(const storage::MessageEntry& entry, uint8_t refusalCode, int32_t* status) {
  Claim(entry.id);
  std::wstring text;
  std::optional<storage::StoredMessage> row = storage::SelectForShow(entry.id);
  if (row && row->status <= storage::kStatusSending) {
    text = AnswerClaimed(entry, true, refusalCode, false);
    row = storage::SelectForShow(entry.id);
  } else if (row) {
    StatusCollector collector;
    ShowLine(row->status == storage::kStatusSigned ? L"Сообщение уже подписано !!!" : L"Документ уже отклонен");
    text = collector.text;
  }
  *status = row ? row->status : -1;
  Release(entry.id);
  return text;
}

void RememberSendingRows(const std::vector<storage::MessageEntry>& entries) {
  std::lock_guard<std::mutex> lock(sendingMutex);
  sendingRows.clear();
  for (const storage::MessageEntry& entry : entries) sendingRows[entry.id] = entry;
}

std::vector<storage::MessageEntry> SendingRows() {
  std::lock_guard<std::mutex> lock(sendingMutex);
  std::vector<storage::MessageEntry> rows;
  for (const auto& [id, entry] : sendingRows) rows.push_back(entry);
  return rows;
}

void ResendSavedReplies() {
  for (const storage::MessageEntry& entry : SendingRows()) {
    // A row being answered right now is that operation's business.
    if (!TryClaim(entry.id)) continue;
    AnswerClaimed(entry, false, 0, true);
    Release(entry.id);
  }
}

void ResetReplyStateForTest() {
  std::lock_guard<std::mutex> lock(sendingMutex);
  sendingRows.clear();
}

}  // namespace exchange
