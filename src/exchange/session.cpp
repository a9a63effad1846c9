// The session with the server and the request/answer routine (see
// session.h). The session start's answers are described in
// docs/exchange.md.
#include "exchange/session.h"

#include <atomic>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>

#include "core/client_state.h"
#include "core/format.h"
#include "core/log.h"
#include "core/text.h"
#include "crypto/certificates.h"
#include "crypto/cms.h"
#include "crypto/provider/provider.h"
#include "exchange/email.h"
#include "exchange/intake.h"
#include "exchange/result_codes.h"
#include "exchange/session_request.h"
#include "exchange/stage_times.h"
#include "exchange/status_lines.h"
#include "link/envelope.h"
#include "link/frame.h"
#include "link/handshake_body.h"
#include "link/sha512.h"
#include "link/transport.h"
#include "link/xtea128.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "platform/ui.h"
#include "shell/status.h"
#include "storage/settings.h"

namespace exchange {

namespace {

// Kinds of the session start's answers.
constexpr uint8_t kKindNotRegistered = 170;  // the server does not know the organisation
constexpr uint8_t kKindSession = 171;        // session granted

constexpr uint8_t kTypeCertificateAnswer = 74;  // its payload is an envelope for this client
constexpr uint8_t kTypeRefusal = 255;
constexpr uint8_t kTypeAccepted = 174;

const wchar_t kNotSent[] = L"Сообщения для АИС не отправлено";
const wchar_t kNotBuilt[] = L"Сообщения для АИС не сформировано";
const wchar_t kNoLink[] = L"Нет связи с АИС";
const wchar_t kNoMedium[] = L"Не установлен носитель с личным ключом или ошибка при чтении носителя";

std::atomic<bool> connected{false};
std::atomic<int> serviceStatus{0};
std::atomic<bool> registered{false};
std::atomic<bool> updateChecked{false};
std::atomic<bool> webInterfaceActive{false};
std::atomic<int> containerFailures{0};

std::mutex sharedMutex;           // guards the digest and the hooks
ProgramDigest programDigest{};    // all zero until the update check computes it
Task registrationDialog;
Task updateCheck;
Task containerTimerTask;
Task linkTimerTask;

std::mutex sessionStartMutex;     // one session start at a time

Task HookOrDefault(const Task& hook, Task fallback) {
  std::lock_guard<std::mutex> lock(sharedMutex);
  return hook ? hook : fallback;
}

bool AnyByte(const std::array<uint8_t, 64>& bytes) {
  for (uint8_t byte : bytes) {
    if (byte != 0) return true;
  }
  return false;
}

void Balloon(const std::wstring& text) { shell::UpdateTrayIcon(true, text); }

std::string Narrow(const std::wstring& text) { return core::ToNarrow(text, core::kCodePageUtf8); }

// Stores identifier and key in the selected entry, if it is still the
// certificate the session was opened for.
bool StoreSession(const crypto::KeyId& keyId, const std::array<uint8_t, 64>& id, const std::array<uint8_t, 64>& key) {
  bool stored = false;
  crypto::UpdateCertificateEntry(crypto::SelectedCertificate(), [&](crypto::CertificateEntry& entry) {
    if (entry.keyId != keyId) return;
    entry.sessionId = id;
    entry.sessionKey = key;
    stored = true;
  });
  return stored;
}

// Answer kind 171: the session identifier, the record with the enveloped
// session key, and the proof. The session belongs to the certificate
// `owner` that the session start was sent for.
bool AcceptSession(const std::vector<uint8_t>& answer, const crypto::KeyId& owner) {
  SessionGrant grant;
  if (!ParseSessionGrant(answer, &grant)) {
    core::LogError("Ответ АИС короче установленного", static_cast<int64_t>(answer.size()));
    return false;
  }
  const serverlink::ExchangeRecord& record = grant.record;
  const std::array<uint8_t, 64>& id = grant.id;

  crypto::DataBlock plain;
  if (!crypto::DecryptMessage(crypto::MakeBlock(record.payload), owner, &plain)) return false;
  if (plain.count < 64) {
    core::LogError("Ключ сессии короче 64 байт", plain.count);
    return false;
  }
  std::array<uint8_t, 64> key{};
  std::memcpy(key.data(), plain.buffer.get(), key.size());
  // Identifier and key go in together: an identifier without its key
  // would make every request of the session fail. Another certificate
  // selected meanwhile gets no session of this one's.
  if (!StoreSession(owner, id, key)) {
    serverlink::WipeBytes(key.data(), key.size());
    core::LogError("Сессия не сохранена: выбран другой сертификат", 0);
    return false;
  }

  std::vector<uint8_t> proven(answer.begin() + kSessionRecordOffset,
                              answer.begin() + static_cast<std::ptrdiff_t>(kSessionRecordOffset + grant.provenBytes));
  proven.insert(proven.end(), key.begin(), key.end());
  uint8_t digest[serverlink::kSha512Bytes];
  bool digestMade = serverlink::Sha512(proven.data(), proven.size(), digest);
  serverlink::WipeBytes(proven.data(), proven.size());
  int comparison = digestMade ? std::memcmp(digest, answer.data() + answer.size() - kProofBytes, kProofBytes) : 1;
  core::LogValue("Проверка подписи", comparison == 0 ? 0 : 1);
  if (comparison == 0) {
    ShowLine(L"Соединение с АИС успешно установлено.");
    return true;
  }
  ShowLine(L"Ошибка проверки подписи АИС");
  return false;
}

// Runs a hook of the shell when one is set; the hook is copied under the
// lock and run outside it.
void RunHook(const Task& hook) {
  Task task;
  {
    std::lock_guard<std::mutex> lock(sharedMutex);
    task = hook;
  }
  if (task) task();
}

// Answer kind 170: the server does not know the organisation. True when it
// registered; *answer then holds the registration's session answer.
bool Register(std::vector<uint8_t>* answer) {
  if (!SaysNotRegistered(*answer)) return false;
  if (core::GetClientState() == core::kStateRegistrationDeclined) return false;

  crypto::CertificateEntry entry;
  crypto::GetSelectedEntry(&entry);
  const bool visible = platform::ui::MainWindowVisible();
  if (visible && !WebInterfaceActive()) {
    std::wstring question = L"Выбранный сертификат: " + entry.subjectName +
                            L"\r\nне зарегистрован в АИС\r\nЗарегистрировать?";
    if (platform::ui::MessageBox(question, L"Регистрация клиента", platform::ui::Buttons::YesNo) ==
        platform::ui::Answer::Yes) {
      RunHook(registrationDialog);
    }
  }
  if (!Registered()) {
    core::SetClientState(core::kStateRegistrationDeclined);
    if (visible) {
      ShowLine(L"Регистрация прервана пользователем. Для повторной регистрации нажмите кнопку <Получить сообщения>");
      Balloon(entry.subjectName + L" не зарегистрирован в АИС");
    }
    return false;
  }

  crypto::DataBlock body;
  if (!serverlink::MHFS(&body, true)) {
    core::LogError(Narrow(kNotBuilt), 0);
    return false;
  }
  std::vector<uint8_t> registration;
  int sent = serverlink::SendMessageToServer(serverlink::kOperationSessionStart, crypto::BlockBytes(body), &registration);
  if (sent <= 0) {
    core::LogError(Narrow(kNotSent), sent);
    return false;
  }
  if (registration[0] != kKindSession) {
    core::LogError("Ошибка регистрации - повторите еще раз или обратитесь к разработчиику", registration[0]);
    return false;
  }
  ShowLine(L"Регистрация прошла успешно");
  SetRegistered(true);
  *answer = std::move(registration);
  return true;
}

bool StartSession() {
  shell::SetStatusBarText(L"Соединение с АИС...");
  // The certificate the session-start body carries.
  crypto::CertificateEntry owner;
  if (!crypto::GetSelectedEntry(&owner)) {
    ShowLine(kNotBuilt);
    return false;
  }
  crypto::DataBlock body;
  if (!serverlink::MHFS(&body, false)) {
    ShowLine(kNotBuilt);
    return false;
  }
  std::vector<uint8_t> answer;
  int sent = serverlink::SendMessageToServer(serverlink::kOperationSessionStart, crypto::BlockBytes(body), &answer);
  if (sent <= 0) {
    ShowLine(kNotSent);
    return false;
  }
  shell::SetStatusBarText(L".");
  core::LogInfo("Got answer");

  uint8_t kind = answer[0];
  if (kind == kReplyRefused && answer.size() > 1 && answer[1] == kCodeClock) {
    core::SetClientState(core::kStateClockOutOfSync);
    Balloon(L"Ошибка синхронизации времени с АИС");
    ShowLine(
        L"Ошибка синхронизации времени с АИС. Проверьте установленную дату и время и укажите правильный часовой "
        L"пояс UTC+03:00");
    return false;
  }
  if (kind == kKindNotRegistered) {
    if (!Register(&answer)) return false;
    kind = answer[0];
  }
  if (kind == kKindSession) return AcceptSession(answer, owner.keyId);
  return false;
}

bool StartExchangeLocked() {
  core::LogInfo("SEWS");
  bool opened = false;
  try {
    opened = StartSession();
  } catch (...) {
    core::LogException("StartExchangeWithServer");
    opened = false;
  }
  shell::SetStatusBarText(L"...");
  core::LogInfo("SEWS - end");
  return opened;
}

// Opens a session after `failed` (the session a request met code 7 with,
// or all zero when there was none). Threads meeting code 7 together open
// one session, not one each: under the session-start lock, an entry that
// already holds another session was renewed by a thread before, and is
// taken as it is. A second handshake would replace that session while its
// thread still works in it.
bool RenewSession(const std::array<uint8_t, 64>& failed) {
  std::lock_guard<std::mutex> lock(sessionStartMutex);
  crypto::CertificateEntry entry;
  if (crypto::GetSelectedEntry(&entry) && AnyByte(entry.sessionId) && entry.sessionId != failed) {
    core::LogInfo("SEWS: сессия уже открыта");
    return true;
  }
  return StartExchangeLocked();
}

bool RequestAndAnswer(ReplyResult* result, serverlink::ExchangeRecord* record) {
  *result = ReplyResult{};
  SessionKeys keys;
  std::vector<uint8_t> answer;
  int sent = SendInSession(*record, &answer, &keys);
  if (sent < 0) {
    ShowLine(kNotSent);
    SetConnected(false);
    return false;
  }
  if (answer.size() >= 2) *result = ReplyResult{answer[0], answer[1]};
  serverlink::ExchangeRecord parsed;
  if (sent == 0 || answer[0] != kReplyRecord || !ReadSessionAnswer(&answer, keys, &parsed)) {
    *result = ReplyResult{kReplyRefused, kCodeUnknownSession};
    SetConnected(false);
    core::LogInfo("Соединение сброшено");
    return false;
  }
  *record = std::move(parsed);
  if (record->type == kTypeCertificateAnswer) {
    crypto::DataBlock plain;
    if (crypto::DecryptMessage(crypto::MakeBlock(record->payload), keys.keyId, &plain)) {
      record->payload = crypto::BlockBytes(plain);
      record->payloadLength = static_cast<uint32_t>(record->payload.size());
    } else {
      core::LogError("Ошибка расшифровки сообщения", 0);
    }
  }
  if (record->type == kTypeRefusal) {
    if (record->payload.empty()) {
      // A refusal without its code: nothing to act on.
      *result = ReplyResult{kReplyRefused, 0};
      core::LogError("Ответ АИС без кода", 0);
      return false;
    }
    *result = ReplyResult{kReplyRefused, record->payload[0]};
    if (result->code == kCodeUnknownSession) SetConnected(false);
  }
  if (record->type == kTypeAccepted) {
    *result = ReplyResult{kReplyAccepted, record->payload.empty() ? uint8_t{0} : record->payload[0]};
  }
  return true;
}

// Asks for the service status once per link. While the program has not been
// found current, the update check runs first (its digest goes into the
// status request); a refusal with code 3 says the server wants a newer
// program, and the check runs again.
void ServiceStatusStep() {
  if (!UpdateChecked()) RunHook(updateCheck);
  ReplyResult result;
  if (GetMyStatus(&result)) {
    SetServiceStatus(result.code);
    core::LogValue("SoS", result.code);
  } else if (result.kind == kReplyRefused && result.code == kCodeUpdateRequired) {
    RunHook(updateCheck);
  }
}

void StartLinkTimer() { exchange::StartLinkTimer(kLinkRetryMs); }

void StartContainerTimer() {
  platform::ui::SetTimer(kTimerContainer, kContainerRetryMs,
                         HookOrDefault(containerTimerTask, [] { CheckContainer(); }));
}

// What the link check's probe found.
enum class Probed {
  Open,            // the link works
  Stop,            // no refusal came back: the attempts end
  UnknownSession,  // code 7 (or a dropped connection)
  Retry,           // another refusal: the next attempt follows
};

// Sends the probe: the list with a list buffer, the status request without.
Probed Probe(std::vector<uint8_t>* list) {
  ReplyResult result;
  const bool answered = list != nullptr ? GetListMessages(&result, list) : GetMyStatus(&result);
  if (answered) return Probed::Open;
  if (result.kind != kReplyRefused) return Probed::Stop;
  switch (result.code) {
    case kCodeNothingWaiting:
      return Probed::Open;
    case kCodeUpdateRequired:
      SetUpdateChecked(false);
      SetServiceStatus(0);
      return Probed::Open;
    case kCodeUnknownSession:
      return Probed::UnknownSession;
    default:
      return Probed::Retry;
  }
}

// The server no longer knows the session the probe used.
void ForgetSession(const std::array<uint8_t, 64>& failed) {
  SetUpdateChecked(false);
  SetServiceStatus(0);
  ClearSession(failed);
}

bool TryLink(std::vector<uint8_t>* list) {
  const int stateAtStart = core::GetClientState();
  if (stateAtStart >= core::kStateCertificateInvalid) return false;
  if (stateAtStart == core::kStateNoLink) platform::ui::KillTimer(kTimerLink);
  if (stateAtStart < core::kStateNoKeyMedium) core::LogInfo("CTS");
  if (!CheckContainer()) return false;

  crypto::CertificateEntry entry;
  const bool selected = crypto::GetSelectedEntry(&entry);
  const bool containerUsable = selected && crypto::IsContainer(entry.keyId, crypto::kContainerPin);

  // A fresh session is the whole check without a list; with one, the list
  // is still wanted, so it is asked for under the new session.
  bool open = false;
  for (int attempt = 0; attempt < kLinkAttempts && !open; ++attempt) {
    crypto::CertificateEntry current;
    const bool held = crypto::GetSelectedEntry(&current) && AnyByte(current.sessionId);
    if (!held && RenewSession(current.sessionId) && list == nullptr) {
      open = true;
      break;
    }
    // A declined registration (7) or a clock the server refuses (8) ends
    // the attempts: no exchange runs at a state of 4 or more.
    if (core::GetClientState() >= core::kStateCertificateInvalid) break;
    crypto::GetSelectedEntry(&current);
    Probed probed = Probe(list);
    if (probed == Probed::UnknownSession) {
      ForgetSession(current.sessionId);
      if (!RenewSession(current.sessionId)) continue;
      if (list == nullptr) {
        open = true;
        break;
      }
      crypto::GetSelectedEntry(&current);
      probed = Probe(list);
      if (probed == Probed::UnknownSession) ForgetSession(current.sessionId);
    }
    if (probed == Probed::Open) open = true;
    if (probed == Probed::Stop) break;
  }
  SetConnected(open);

  if (open) {
    if (ServiceStatus() == 0) ServiceStatusStep();
    CheckEmail();
    if (core::GetClientState() == core::kStateNoLink) {
      core::LogInfo("Установлена связь с АИС");
      core::SetClientState(core::kStateReady);
      shell::UpdateTrayIcon(true, L"");
    }
  } else if (core::GetClientState() < core::kStateCertificateInvalid && containerUsable) {
    StartLinkTimer();
    if (platform::ui::MainWindowVisible()) ShowLine(kNoLink);
    if (core::GetClientState() < core::kStateNoKeyMedium) {
      core::SetClientState(core::kStateNoLink);
      Balloon(kNoLink);
    }
  }
  core::LogInfo("CTS - end");
  return open;
}

bool SelectNamedCertificate() {
  std::optional<std::wstring> wanted = storage::GetSettingText("IDC_CERT");
  const int count = crypto::CertificateCount();
  for (int index = 0; index < count && wanted; ++index) {
    crypto::CertificateEntry entry;
    if (!crypto::GetCertificateEntry(index, &entry) || entry.keyIdText != *wanted) continue;
    crypto::SelectCertificate(index);
    shell::UpdateTrayIcon(false, L"");

    std::wstring failure;
    int state = core::kStateReady;
    const int64_t now = platform::FileTimeNow();
    if (now < entry.validFrom || now > entry.validTo) {
      state = core::kStateCertificateInvalid;
      failure = L"Выбранный сертификат не действителен";
    } else {
      switch (crypto::CheckCertInCRLByID(entry.keyId)) {
        case crypto::kCrlCurrent:
          break;
        case crypto::kCrlOutOfDate:
          state = core::kStateCrlProblem;
          failure = L"Для выбранного сертификата истек срок действия СОС. Обновите СОС.";
          break;
        case crypto::kCrlRevoked:
          state = core::kStateCertificateInvalid;
          failure = L"Выбранный сертификат отозван";
          break;
        default:
          state = core::kStateCrlProblem;
          failure = L"Ошибка получения СОС или СОС не установлен";
          break;
      }
    }
    if (!failure.empty()) {
      core::SetClientState(state);
      Balloon(failure);
      core::LogError(Narrow(failure), 0);
    }
    return true;
  }
  ShowLine(L"Для работы программы необходимо выбрать сертификат. Сервис->Настройка");
  return false;
}

// Waits for the worker's answer: at most kContainerPolls polls of
// kContainerPollMs each; a worker that has finished ends the wait early.
int AwaitPresence(const platform::ThreadHandle& worker) {
  for (int poll = 0; poll < kContainerPolls; ++poll) {
    const int64_t until = platform::MonotonicMs() + kContainerPollMs;
    while (platform::MonotonicMs() < until) {
      if (worker == nullptr || platform::ThreadFinished(worker)) break;
      platform::SleepMs(5);
    }
    int presence = crypto::ContainerPresence();
    if (presence != crypto::kPresenceUnknown) return presence;
    if (worker == nullptr) return crypto::kPresenceUnknown;
  }
  return crypto::ContainerPresence();
}

bool MediumPresent() {
  platform::ui::KillTimer(kTimerContainer);
  if (crypto::SelectedCertificate() < 0) return false;
  crypto::SetContainerPresence(crypto::kPresenceUnknown);
  platform::ThreadHandle worker = crypto::StartContainerPresenceWorker();
  const bool present = AwaitPresence(worker) == crypto::kPresencePresent;
  if (present) {
    if (core::GetClientState() == core::kStateNoKeyMedium) {
      core::LogInfo("Носитель с личным ключом установлен");
      core::SetClientState(core::kStateReady);
      shell::UpdateTrayIcon(true, L"");
    }
    containerFailures.store(0);
    return true;
  }
  const int failures = containerFailures.fetch_add(1) + 1;
  StartContainerTimer();
  core::LogValue(Narrow(kNoMedium), failures);
  if (core::GetClientState() != core::kStateNoKeyMedium && failures > 2) {
    core::SetClientState(core::kStateNoKeyMedium);
    Balloon(kNoMedium);
  }
  return false;
}

}  // namespace

int SendInSession(const serverlink::ExchangeRecord& request, std::vector<uint8_t>* answer, SessionKeys* keys) {
  answer->clear();
  crypto::CertificateEntry entry;
  if (!crypto::GetSelectedEntry(&entry)) {
    core::LogError("Сертификат не выбран", 0);
    return serverlink::kSendFailed;
  }
  keys->keyId = entry.keyId;
  keys->id = entry.sessionId;
  keys->key = entry.sessionKey;
  std::vector<uint8_t> frame = serverlink::BuildFrame(request);
  serverlink::Xtea128Crypt(frame.data(), frame.size(), keys->key.data(), frame.data(), serverlink::XteaDirection::Encrypt);
  return serverlink::SendMessageToServer(serverlink::kOperationInSession, frame, answer, keys->id.data());
}

bool ParseSessionGrant(const std::vector<uint8_t>& answer, SessionGrant* grant) {
  if (answer.size() < kSessionRecordOffset + serverlink::kFrameMinimum + kProofBytes) return false;
  std::memcpy(grant->id.data(), answer.data() + serverlink::kHeaderBytes, grant->id.size());
  grant->provenBytes = answer.size() - kSessionRecordOffset - kProofBytes;
  return serverlink::ParseFrame(answer.data() + kSessionRecordOffset, grant->provenBytes, &grant->record);
}

bool SaysNotRegistered(const std::vector<uint8_t>& answer) {
  serverlink::ExchangeRecord record;
  if (answer.size() <= serverlink::kHeaderBytes ||
      !serverlink::ParseFrame(answer.data() + serverlink::kHeaderBytes, answer.size() - serverlink::kHeaderBytes,
                              &record)) {
    return false;
  }
  return record.type == kTypeRefusal && !record.payload.empty() && record.payload[0] == kCodeNotRegistered;
}

bool ReadSessionAnswer(std::vector<uint8_t>* answer, const SessionKeys& keys, serverlink::ExchangeRecord* record) {
  if (answer->size() < serverlink::kHeaderBytes + serverlink::kFrameBlock) return false;
  uint8_t* frame = answer->data() + serverlink::kHeaderBytes;
  const size_t size = (answer->size() - serverlink::kHeaderBytes) / serverlink::kFrameBlock * serverlink::kFrameBlock;
  serverlink::Xtea128Crypt(frame, size, keys.key.data(), frame, serverlink::XteaDirection::Decrypt);
  return serverlink::ParseFrame(frame, size, record);
}

bool SendMessageAndGetAnswer(ReplyResult* result, serverlink::ExchangeRecord* record) {
  StageClock clock(Stage::Network);
  core::LogInfo("SMAGA");
  bool answered = false;
  try {
    answered = RequestAndAnswer(result, record);
  } catch (...) {
    core::LogException("SendMessageAndGetAnswer");
    answered = false;
  }
  core::LogInfo("SMAGA - end");
  return answered;
}

bool StartExchangeWithServer() {
  std::lock_guard<std::mutex> lock(sessionStartMutex);
  return StartExchangeLocked();
}

bool CTS(std::vector<uint8_t>* list) {
  try {
    return TryLink(list);
  } catch (...) {
    core::LogException("CTS");
    return false;
  }
}

bool CheckCert() {
  try {
    return SelectNamedCertificate();
  } catch (...) {
    core::LogException("CheckCert");
    return false;
  }
}

bool CheckContainer() {
  try {
    return MediumPresent();
  } catch (...) {
    core::LogException("CheckContainer");
    return false;
  }
}

ValidityOutlook SelectedValidity() {
  ValidityOutlook outlook;
  crypto::CertificateEntry entry;
  if (!crypto::GetSelectedEntry(&entry)) return outlook;
  outlook.certificate = true;
  outlook.certificateEnds = entry.validTo;
  crypto::DataBlock der;
  if (!crypto::GetCertBlob(entry.keyId, &der)) return outlook;
  std::vector<uint8_t> certificate = crypto::BlockBytes(der);
  crypto::provider::Store ca;
  if (crypto::provider::OpenStore(crypto::provider::StoreName::CA, &ca) != 0) return outlook;
  const crypto::ChosenCrl chosen = crypto::ChooseCrl(ca, certificate, false);
  outlook.unverifiedList = chosen.unverified;
  outlook.revocationList = chosen.list != nullptr;
  if (chosen.list != nullptr) outlook.listNextUpdate = chosen.info.nextUpdate;
  return outlook;
}

int64_t DaysUntil(int64_t when, int64_t now) {
  constexpr int64_t kDay = 864000000000LL;  // 100-ns units of a day
  int64_t difference = when - now;
  return difference >= 0 ? difference / kDay : -((-difference + kDay - 1) / kDay);
}

std::wstring ValidityWarning(const ValidityOutlook& outlook, int64_t now) {
  std::wstring warning;
  if (outlook.certificate) {
    int64_t days = DaysUntil(outlook.certificateEnds, now);
    if (days < kCertificateWarningDays) {
      warning = days < 0 ? L"Срок действия выбранного сертификата истек."
                         : L"Срок действия выбранного сертификата истекает через " +
                               std::to_wstring(days) + L" дн.";
    }
  }
  if (outlook.revocationList && outlook.listNextUpdate != 0) {
    int64_t days = DaysUntil(outlook.listNextUpdate, now);
    if (days < kListWarningDays) {
      if (!warning.empty()) warning += L" ";
      warning += outlook.listNextUpdate <= now
                     ? L"Срок действия СОС истек " + std::to_wstring(-days) + L" дн. назад. Обновите СОС."
                     : L"Срок действия СОС истекает через " + std::to_wstring(days) + L" дн. Обновите СОС.";
    }
  }
  return warning;
}

bool SessionOpen() {
  crypto::CertificateEntry entry;
  return crypto::GetSelectedEntry(&entry) && AnyByte(entry.sessionId);
}

void ClearSession(const std::array<uint8_t, 64>& expected) {
  crypto::UpdateCertificateEntry(crypto::SelectedCertificate(), [&](crypto::CertificateEntry& entry) {
    if (entry.sessionId != expected) return;
    entry.sessionId.fill(0);
    entry.sessionKey.fill(0);
  });
}

bool Connected() { return connected.load(); }
void SetConnected(bool value) { connected.store(value); }
int ServiceStatus() { return serviceStatus.load(); }
void SetServiceStatus(int status) { serviceStatus.store(status); }
bool Registered() { return registered.load(); }
void SetRegistered(bool value) { registered.store(value); }
bool UpdateChecked() { return updateChecked.load(); }
void SetUpdateChecked(bool checked) { updateChecked.store(checked); }
bool WebInterfaceActive() { return webInterfaceActive.load(); }
void SetWebInterfaceActive(bool active) { webInterfaceActive.store(active); }
int ContainerFailures() { return containerFailures.load(); }

ProgramDigest CurrentProgramDigest() {
  std::lock_guard<std::mutex> lock(sharedMutex);
  return programDigest;
}

void SetProgramDigest(const ProgramDigest& digest) {
  std::lock_guard<std::mutex> lock(sharedMutex);
  programDigest = digest;
}

void SetRegistrationDialog(Task dialog) {
  std::lock_guard<std::mutex> lock(sharedMutex);
  registrationDialog = std::move(dialog);
}

void SetUpdateCheck(Task check) {
  std::lock_guard<std::mutex> lock(sharedMutex);
  updateCheck = std::move(check);
}

void SetContainerTimerTask(Task task) {
  std::lock_guard<std::mutex> lock(sharedMutex);
  containerTimerTask = std::move(task);
}

void SetLinkTimerTask(Task task) {
  std::lock_guard<std::mutex> lock(sharedMutex);
  linkTimerTask = std::move(task);
}

void ResetSessionStateForTest() {
  connected.store(false);
  serviceStatus.store(0);
  registered.store(false);
  updateChecked.store(false);
  webInterfaceActive.store(false);
  containerFailures.store(0);
  std::lock_guard<std::mutex> lock(sharedMutex);
  programDigest.fill(0);
  registrationDialog = nullptr;
  updateCheck = nullptr;
  containerTimerTask = nullptr;
  linkTimerTask = nullptr;
}

void StartLinkTimer(int periodMs) {
  platform::ui::SetTimer(kTimerLink, periodMs, HookOrDefault(linkTimerTask, [] { CTS(nullptr); }));
}

}  // namespace exchange
