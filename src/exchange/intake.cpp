// Intake of messages from the server (see intake.h; the steps in
// docs/exchange.md).
#include "exchange/intake.h"

#include <atomic>
#include <cstddef>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>

#include "core/client_state.h"
#include "core/log.h"
#include "core/text.h"
#include "crypto/certificates.h"
#include "crypto/cms.h"
#include "crypto/verify.h"
#include "exchange/confirmation.h"
#include "exchange/request_queue.h"
#include "exchange/reply.h"
#include "exchange/result_codes.h"
#include "exchange/session_request.h"
#include "exchange/stage_times.h"
#include "exchange/status_lines.h"
#include "link/frame.h"
#include "link/payload.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "platform/ui.h"
#include "shell/status.h"
#include "storage/database.h"

namespace exchange {

namespace {

constexpr uint8_t kAnswerEchoed = 172;  // an answer that repeats the request's operation byte
constexpr size_t kIdmBytes = 4;

const wchar_t kNotSent[] = L"Сообщения для АИС не отправлено";

// Flags of the requests naming one message by its identifier: the bit
// carries no field.
constexpr uint8_t kFlagsByIdentifier = serverlink::FlagBits("00000001");

std::atomic<bool> checkRunning{false};

std::mutex intakeMutex;  // one intake run at a time

// Identifiers of the rows stored in the table. Rows are never deleted, so
// the set only grows: every whole list load adds its rows and marks the set
// complete, every stored message adds its identifier. While it is complete
// a missing identifier is a new message; before, the table is asked.
std::mutex storedMutex;
std::unordered_set<int32_t> storedIdms;
bool storedComplete = false;

std::mutex hookMutex;
MessageListHook listHook;

void Notify(const MessageListUpdate& update) {
  MessageListHook hook;
  {
    std::lock_guard<std::mutex> lock(hookMutex);
    hook = listHook;
  }
  if (hook) hook(update);
}

void RememberStored(const std::vector<int32_t>& idms, bool complete) {
  std::lock_guard<std::mutex> lock(storedMutex);
  storedIdms.insert(idms.begin(), idms.end());
  if (complete) storedComplete = true;
}

void RememberStoredIdm(int32_t idm) {
  std::lock_guard<std::mutex> lock(storedMutex);
  storedIdms.insert(idm);
}

bool AlreadyStored(int32_t idm) {
  StageClock clock(Stage::Database);
  {
    std::lock_guard<std::mutex> lock(storedMutex);
    if (storedIdms.count(idm) != 0) return true;
    if (storedComplete) return false;
  }
  // A statement that fails is logged by storage; the message counts as new.
  return storage::SelectIdByIdm(idm) > 0;
}

int32_t IdmAt(const std::vector<uint8_t>& list, size_t index) {
  const uint8_t* at = list.data() + index * kIdmBytes;
  return static_cast<int32_t>(static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
                              static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24);
}

std::vector<uint8_t> IdmBytes(int32_t idm) {
  const uint32_t value = static_cast<uint32_t>(idm);
  return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
          static_cast<uint8_t>(value >> 24)};
}

// A co-signed reply (53) is stored as it came; one whose sender wants a
// delivery confirmation (63) is opened and confirmed like a 62.
bool IsDocumentType(int type) {
  return type == 52 || type == 62 || type == 63 || type == 152 || type == 162 || type == 163;
}

// A document whose sender wants a delivery confirmation arrives as 62
// (162 compressed), a co-signed reply as 63 (163).
bool WantsConfirmationOnArrival(int type) { return type == 62 || type == 162 || type == 63 || type == 163; }

// The list request and the status request read their answers themselves;
// both share the sending.
struct SessionAnswer {
  int sent = 0;                        // SendMessageToServer's result
  std::vector<uint8_t> bytes;          // the answer
  SessionKeys keys;                    // the session it was sent under
};

SessionAnswer Ask(const serverlink::ExchangeRecord& request) {
  StageClock clock(Stage::Network);
  SessionAnswer answer;
  answer.sent = SendInSession(request, &answer.bytes, &answer.keys);
  return answer;
}

bool ListRequest(ReplyResult* result, std::vector<uint8_t>* list) {
  *result = ReplyResult{};
  if (list != nullptr) list->clear();
  serverlink::ExchangeRecord request;
  request.type = kTypeGetList;
  SessionAnswer answer = Ask(request);
  if (answer.sent < 0) {
    ShowLine(kNotSent);
    return false;
  }
  if (answer.sent == 0) {
    *result = ReplyResult{kReplyRefused, kCodeUnknownSession};
    return false;
  }
  *result = ReplyResult{answer.bytes[0], answer.bytes.size() > 1 ? answer.bytes[1] : uint8_t{0}};
  if (answer.bytes[0] == kReplyRecord) {
    serverlink::ExchangeRecord record;
    if (!ReadSessionAnswer(&answer.bytes, answer.keys, &record)) {
      *result = ReplyResult{kReplyRefused, kCodeUnknownSession};
      core::LogInfo("Соединение сброшено");
      return false;
    }
    if (record.type == kTypeList) {
      core::LogValue("Размер списка", static_cast<int64_t>(record.payload.size()));
      if (list != nullptr) {
        const size_t count = record.payload.size() / kIdmBytes;
        ShowLine(L"Получен список из сообщений - " + std::to_wstring(count));
        list->assign(record.payload.begin(), record.payload.begin() + static_cast<std::ptrdiff_t>(count * kIdmBytes));
      }
    } else if (record.type == kReplyRefused && !record.payload.empty()) {
      *result = ReplyResult{kReplyRefused, record.payload[0]};
      if (record.payload[0] == kCodeNothingWaiting) ShowLine(L"Нет сообщений");
    }
    return true;
  }
  if (answer.bytes[0] == kAnswerEchoed) *result = ReplyResult{kReplyRefused, kCodeUnknownSession};
  return false;
}

bool StatusRequest(ReplyResult* result) {
  *result = ReplyResult{};
  serverlink::ExchangeRecord request;
  request.type = kTypeStatus;
  ProgramDigest digest = CurrentProgramDigest();
  request.payload.assign(digest.begin(), digest.end());
  SessionAnswer answer = Ask(request);
  if (answer.sent < 0) {
    ShowLine(kNotSent);
    return false;
  }
  serverlink::ExchangeRecord record;
  if (answer.sent == 0 || answer.bytes[0] != kReplyRecord ||
      !ReadSessionAnswer(&answer.bytes, answer.keys, &record)) {
    *result = ReplyResult{kReplyRefused, kCodeUnknownSession};
    return false;
  }
  *result = ReplyResult{answer.bytes[0], answer.bytes[1]};
  if (record.payload.empty()) return false;
  if (record.type == kReplyAccepted) {
    *result = ReplyResult{kReplyAccepted, record.payload[0]};
    return true;
  }
  if (record.type == kReplyRefused) *result = ReplyResult{kReplyRefused, record.payload[0]};
  return false;
}

// The rows stored since the last load join the list and the window gets
// them.
void AddStoredToList() {
  std::optional<std::vector<storage::MessageEntry>> added = storage::AddNewMessagesToList();
  if (added && !added->empty()) {
    MessageListUpdate update{false, storage::MessageCount(), {}};
    std::vector<int32_t> idms;
    for (const storage::MessageEntry& entry : *added) {
      idms.push_back(entry.idm);
      update.added.push_back(entry.row);
    }
    RememberStored(idms, false);
    Notify(update);
  }
}

// After a stored message: the list as above, and the saved replies go out
// again, as after a whole load.
void RefreshListAfterStore() {
  StageClock clock(Stage::List);
  core::LogInfo("LMFB");
  AddStoredToList();
  ResendSavedReplies();
  core::LogInfo("LMFB - end");
}

const wchar_t kNoKeyMedium[] = L"Не установлен носитель с личным ключом или ошибка при чтении носителя";
const wchar_t kPinRefused[] = L"В настройках не указан верный пароль от контейнера";

// What intake learnt of one fetched message.
struct Checked {
  int code = 0;                 // 0 not checked, 1 valid, otherwise the refusal code
  bool wantsConfirmation = false;
  bool confirmed = false;
  // The signature check ended without a verdict (a signer's revocation list
  // missing or out of date, the check's context not opened): nothing to
  // hold against the sender, nothing to confirm yet.
  bool unverified = false;
  // Decryption failed for this machine's key (medium missing, PIN refused):
  // the message stays on the server until the key is back.
  crypto::DecryptFailure keyProblem = crypto::DecryptFailure::None;
  std::wstring report;          // the verification's report, for the confirmation
};

// The checks of a document that need nothing but the document itself:
// decryption, expansion and verification. They run on the helper thread,
// ahead of the loop; the confirmation is the loop's (ConfirmDelivery).
Checked OpenDocument(serverlink::ExchangeRecord* message) {
  StageClock clock(Stage::Crypto);
  Checked checked;
  crypto::CertificateEntry own;
  crypto::GetSelectedEntry(&own);
  crypto::DataBlock plain;
  crypto::DecryptFailure failure = crypto::DecryptFailure::None;
  if (!crypto::DecryptMessage(crypto::MakeBlock(message->payload), own.keyId, &plain, &failure)) {
    if (failure == crypto::DecryptFailure::NoKeyMedium || failure == crypto::DecryptFailure::PinRefused) {
      checked.keyProblem = failure;
    } else {
      checked.code = kRefusalNotDecrypted;
    }
    return checked;
  }
  message->payload = crypto::BlockBytes(plain);
  message->payloadLength = static_cast<uint32_t>(message->payload.size());
  serverlink::ExpandPayload(message);
  if (message->type == 62 || message->type == 63) {
    message->type = static_cast<uint8_t>(message->type - 10);
    checked.wantsConfirmation = true;
  }
  int signatures = 0;
  crypto::DataBlock content;
  uint8_t verdict = crypto::kVerdictNone;
  const int verified = crypto::VerifyMessageSignature(crypto::MakeBlock(message->payload), &signatures, &content,
                                                      &checked.report, &verdict);
  if (verified == 1) {
    checked.code = 1;
  } else if (verified < 0) {
    checked.code = kRefusalUnknownContent;  // not a signed message at all
  } else if (verdict != crypto::kVerdictNone) {
    checked.code = verdict;
  } else {
    checked.unverified = true;  // signed, but not checked: code 0, no refusal
  }
  return checked;
}

// A heading, then the report line by line (the status area takes one line
// at a time), to the status area and the error log.
void ShowReport(const wchar_t* heading, const std::wstring& report) {
  ShowLine(heading);
  core::LogError(core::ToNarrow(heading, core::kCodePageUtf8), 0);
  size_t start = 0;
  while (start <= report.size()) {
    size_t end = report.find(L"\r\n", start);
    if (end == std::wstring::npos) end = report.size();
    if (end > start) ShowLine(report.substr(start, end - start));
    start = end + 2;
  }
}

bool ConfirmDelivery(const serverlink::ExchangeRecord& message, const std::wstring& report) {
  StageClock clock(Stage::Crypto);
  serverlink::ExchangeRecord received;
  received.flags = serverlink::FlagBits(serverlink::kFlagNumber);
  received.number = message.number;
  received.iks = message.iks;
  received.payload = message.payload;
  received.payloadLength = message.payloadLength;
  return MakeDeliveryConfirmation(received, report);
}

// The automatic refusal of a message that failed its checks. A document
// that wanted a confirmation names itself by its number, as its sender
// expects; any other message also by the sender's key identifier.
void RefuseAutomatically(const serverlink::ExchangeRecord& message, int arrivalType, uint8_t code) {
  serverlink::ExchangeRecord refusal;
  refusal.flags = WantsConfirmationOnArrival(arrivalType)
                      ? serverlink::FlagBits(serverlink::kFlagNumber)
                      : serverlink::FlagBits(serverlink::kFlagNumber) | serverlink::FlagBits(serverlink::kFlagIks);
  refusal.type = kTypeRefusalReply;
  refusal.iks = message.iks;
  refusal.number = message.number;
  refusal.payload = {code};
  refusal.payloadLength = 1;
  ReplyResult ignored;
  SendMessageAndGetAnswer(&ignored, &refusal);
}

void DeleteOnServer(int32_t idm) {
  serverlink::ExchangeRecord request;
  request.flags = kFlagsByIdentifier;
  request.type = kTypeDeleteMessage;
  request.payload = IdmBytes(idm);
  request.payloadLength = kIdmBytes;
  ReplyResult result;
  SendMessageAndGetAnswer(&result, &request);
  if (result.kind != kReplyAccepted) core::LogError("Ошибка удаления сообщения в АИС", result.code);
}

bool Store(int32_t idm, int64_t dateIn, const serverlink::ExchangeRecord& message) {
  storage::NewMessage row;
  row.idm = idm;
  row.dateIn = dateIn;
  row.senderUNP = message.unp;
  row.senderBranch = message.branch;
  row.senderName = message.name;
  std::copy(message.iks.begin(), message.iks.end(), row.senderIKS.begin());
  row.type = message.type;
  row.message = message.payload;
  serverlink::WriteNumber(message.number, row.number.data());
  row.expire = static_cast<int32_t>(message.expiry);
  StageClock clock(Stage::Database);
  int code = storage::InsertMessage(row);
  if (code != 0) {
    ShowLine(L"Ошибка сохранения сообщения. Перезапустите программу и если ошибка повторится обратитесь к "
             L"разработчику.");
    core::LogError("Ошибка сохранения сообщения " + storage::DatabaseError(), code);
    return false;
  }
  RememberStoredIdm(idm);
  return true;
}

// A message as the server answered the request for it, opened when it is
// a document.
struct FetchedMessage {
  ReplyResult result;                  // kind kReplyRecord when the message came
  serverlink::ExchangeRecord message;  // the message, then (decrypted and expanded when it could be)
  int arrivalType = 0;                 // its type as it came
  int64_t dateIn = 0;                  // when it came, seconds since 1970
  Checked checked;                     // what opening it found
};

FetchedMessage FetchMessage(int32_t idm) {
  FetchedMessage fetched;
  fetched.message.flags = kFlagsByIdentifier;
  fetched.message.type = kTypeGetMessage;
  fetched.message.payload = IdmBytes(idm);
  fetched.message.payloadLength = kIdmBytes;
  SendMessageAndGetAnswer(&fetched.result, &fetched.message);
  if (fetched.result.kind != kReplyRecord) return fetched;
  fetched.dateIn = platform::UnixNow();
  fetched.arrivalType = fetched.message.type;
  if (IsDocumentType(fetched.message.type)) fetched.checked = OpenDocument(&fetched.message);
  return fetched;
}

// Asks the helper for a message; the answer is waited for when the message
// is taken.
std::future<FetchedMessage> FetchOnHelper(RequestQueue* helper, int32_t idm) {
  auto promise = std::make_shared<std::promise<FetchedMessage>>();
  std::future<FetchedMessage> answer = promise->get_future();
  helper->Post([promise, idm] {
    try {
      promise->set_value(FetchMessage(idm));
    } catch (...) {
      promise->set_exception(std::current_exception());  // thrown again where the message is taken
    }
  });
  return answer;
}

// Deletes a stored message on the helper, behind the loop.
void DeleteOnHelper(RequestQueue* helper, int32_t idm) {
  helper->Post([idm] {
    try {
      DeleteOnServer(idm);
    } catch (...) {
      core::LogException("ClientGetMessagesFromServer");
    }
  });
}

// Steps of one message once it has been fetched. Its deletion goes to the
// helper, after its row has been committed.
void TakeMessage(int32_t idm, FetchedMessage fetched, RequestQueue* helper) {
  if (fetched.result.kind != kReplyRecord) {
    ShowLine(L"Ошибка при получении сообщения");
    return;
  }
  if (AlreadyStored(idm)) {
    ShowLine(L"Сообщение уже есть в базе");
    DeleteOnHelper(helper, idm);
    return;
  }
  const serverlink::ExchangeRecord& message = fetched.message;
  Checked& checked = fetched.checked;
  // This machine's key could not open it: no fault of the sender's. The
  // message stays on the server for the next run.
  if (checked.keyProblem != crypto::DecryptFailure::None) {
    const wchar_t* warning = checked.keyProblem == crypto::DecryptFailure::PinRefused ? kPinRefused : kNoKeyMedium;
    ShowLine(warning);
    core::LogError(core::ToNarrow(warning, core::kCodePageUtf8), idm);
    return;
  }
  // A document wanting a confirmation is confirmed only once it could be
  // checked; until then it waits on the server like one whose confirmation
  // failed.
  if (checked.unverified && checked.wantsConfirmation) {
    ShowReport(L"ЭЦП не проверена, сообщение оставлено в АИС до проверки:", checked.report);
    return;
  }
  if (checked.wantsConfirmation && checked.code != 0) checked.confirmed = ConfirmDelivery(message, checked.report);
  if (checked.code > 1) {
    RefuseAutomatically(message, fetched.arrivalType, static_cast<uint8_t>(checked.code));
    checked.wantsConfirmation = false;
  }
  // Without its confirmation the document stays on the server and comes
  // again with the next run.
  if (checked.wantsConfirmation && !checked.confirmed) return;
  if (!Store(idm, fetched.dateIn, message)) return;
  RefreshListAfterStore();
  if (checked.unverified) ShowReport(L"ЭЦП не проверена:", checked.report);
  ShowLine(L"Сообщение получено");
  DeleteOnHelper(helper, idm);
}

// Works through the list in order. While one message is confirmed and
// stored, the helper fetches and opens the next and deletes the one
// before, so that work and the server's overlap the loop's
// (request_queue.h).
int TakeMessages() {
  std::lock_guard<std::mutex> lock(intakeMutex);
  std::vector<uint8_t> list;
  CTS(&list);
  const size_t count = list.size() / kIdmBytes;
  if (count > 0) {
    {
      RequestQueue helper;  // its end waits for the last deletion
      std::future<FetchedMessage> next = FetchOnHelper(&helper, IdmAt(list, 0));
      for (size_t i = 0; i < count; ++i) {
        ShowLine(L"Обратывается сообщение - " + std::to_wstring(i + 1));
        FetchedMessage fetched = next.get();
        if (i + 1 < count) next = FetchOnHelper(&helper, IdmAt(list, i + 1));
        TakeMessage(IdmAt(list, i), std::move(fetched), &helper);
      }
    }
    core::SetClientState(core::kStateReady);
    shell::UpdateTrayIcon(true, L"");
  }
  return static_cast<int>(count);
}

}  // namespace

bool GetListMessages(ReplyResult* result, std::vector<uint8_t>* list) {
  core::LogInfo("GLM");
  bool answered = false;
  try {
    answered = ListRequest(result, list);
  } catch (...) {
    core::LogException("GetListMessages");
    answered = false;
  }
  core::LogInfo("GLM - end");
  return answered;
}

bool GetMyStatus(ReplyResult* result) {
  core::LogInfo("GMS");
  bool accepted = false;
  try {
    accepted = StatusRequest(result);
  } catch (...) {
    core::LogException("GetMyStatus");
    accepted = false;
  }
  core::LogInfo("GMS - end");
  return accepted;
}

void CheckIncomeMessage() {
  checkRunning.store(true);
  try {
    std::vector<uint8_t> list;
    CTS(&list);
    const size_t count = list.size() / kIdmBytes;
    if (count > 0) {
      std::wstring text = L"Ожидают получения " + std::to_wstring(count) + L" сообщений";
      if (platform::ui::MainWindowVisible()) {
        ShowLine(text);
      } else {
        core::SetClientState(core::kStateMessagesWaiting);
        shell::UpdateTrayIcon(true, text);
      }
    }
  } catch (...) {
    core::LogException("CheckIncomeMessage");
  }
  checkRunning.store(false);
}

bool StartCheckIncomeMessage() {
  if (checkRunning.exchange(true)) return false;
  platform::ThreadHandle thread = platform::ThreadStart([] { CheckIncomeMessage(); });
  if (thread == nullptr) {
    checkRunning.store(false);
    return false;
  }
  return true;
}

bool CheckIncomeRunning() { return checkRunning.load(); }

int ClientGetMessagesFromServer() {
  core::LogInfo("CGMFS");
  int count = 0;
  try {
    count = TakeMessages();
  } catch (...) {
    core::LogException("ClientGetMessagesFromServer");
  }
  core::LogInfo("CGMFS - end");
  return count;
}

void LoadMessagesFromBase() {
  core::LogInfo("LMFB");
  try {
    std::optional<size_t> count = storage::RebuildMessageList();
    if (!count) {
      Notify(MessageListUpdate{true, 0, {}});
      core::LogInfo("LMFB - end");
      return;
    }
    RememberStored(storage::ListedIdms(), true);
    Notify(MessageListUpdate{true, *count, {}});
    // The replies left half-way, found by their status, wherever the list
    // shows them.
    std::vector<storage::MessageEntry> sending;
    storage::SelectSendingRows(&sending);
    for (storage::MessageEntry& entry : sending) entry.row = storage::FindMessageById(entry.id);
    RememberSendingRows(sending);
    ResendSavedReplies();
  } catch (...) {
    core::LogException("LoadMessagesFromBase");
  }
  core::LogInfo("LMFB - end");
}

void RefreshMessageList() {
  try {
    AddStoredToList();
  } catch (...) {
    core::LogException("RefreshMessageList");
  }
}

void SetMessageListHook(MessageListHook hook) {
  std::lock_guard<std::mutex> lock(hookMutex);
  listHook = std::move(hook);
}

void ResetIntakeStateForTest() {
  {
    std::lock_guard<std::mutex> lock(hookMutex);
    listHook = nullptr;
  }
  std::lock_guard<std::mutex> lock(storedMutex);
  storedIdms.clear();
  storedComplete = false;
}

}  // namespace exchange
