// tsr-tool doctor, the network: the name of the server (or of the proxy)
// resolves, a TCP connection and the proxy's tunnel open (with the proxy's
// own answer), the session start of the client (StartExchangeWithServer),
// the clock as the server judged it (and, after code 12, how far off it is,
// found with session starts at shifted request times), and the service
// status.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/client_state.h"
#include "core/text.h"
#include "doctor.h"
#include "exchange/intake.h"
#include "exchange/result_codes.h"
#include "exchange/session.h"
#include "link/proxy.h"
#include "link/transport.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/net.h"
#include "storage/settings.h"

namespace tsr_tool::doctor {
namespace {

bool UseProxy() { return storage::GetSettingInt("IDC_PROXY_USE") != 0; }

// Where the client connects: the proxy of the settings, or the server.
serverlink::ServerEndpoint Target() {
  if (!UseProxy()) return serverlink::ServerAddress();
  return {storage::GetSettingTextJson("IDC_PROXY_A"), storage::GetSettingTextJson("IDC_PROXY_PORT")};
}

std::string Text(const serverlink::ServerEndpoint& endpoint) { return endpoint.host + ":" + endpoint.port; }

// The HTTP proxy's answer to the client's CONNECT request: its first line.
// True when its code is 200, as the client's tunnel requires.
bool HttpTunnel(const platform::Socket& proxy, const serverlink::ServerEndpoint& server, int timeoutMs,
                std::string* answer) {
  std::string request = serverlink::HttpConnectRequest(server.host, server.port, SettingText("IDC_PROXY_USER"),
                                                       SettingText("IDC_PROXY_PASS"));
  if (!platform::NetSendAll(proxy, request.data(), request.size(), timeoutMs)) {
    *answer = "send failed (system error " + std::to_string(platform::LastSystemError()) + ")";
    return false;
  }
  std::string reply;
  char buffer[serverlink::kProxyReplyLimit];
  while (reply.size() < serverlink::kProxyReplyLimit && reply.find("\r\n\r\n") == std::string::npos) {
    int64_t got = platform::NetRecv(proxy, buffer, serverlink::kProxyReplyLimit - reply.size(), timeoutMs);
    if (got <= 0) break;
    reply.append(buffer, static_cast<size_t>(got));
  }
  *answer = reply.empty() ? "no answer" : reply.substr(0, reply.find_first_of("\r\n"));
  return serverlink::HttpStatusCode(reply) == 200;
}

// The request times (as shifts from our clock, in seconds) that the server
// takes for a session start: low to high. Its clock lies in the middle,
// and half the width is its tolerance.
struct ClockWindow {
  bool found = false;
  int64_t low = 0;
  int64_t high = 0;
  int probes = 0;  // session starts sent
};

constexpr int64_t kClockSearchLimit = 2 * 86400;  // seconds either way
constexpr int64_t kClockFirstStep = 30;
constexpr int64_t kClockPrecision = 2;

// Whether the server takes a session start whose request time is ours +
// shift: 1 taken, 0 refused with code 12, -1 any other outcome.
int TakesShift(int64_t shift, int* probes) {
  ++*probes;
  serverlink::SetRequestTimeShift(shift);
  core::SetClientState(core::kStateReady);
  bool taken = exchange::StartExchangeWithServer();
  int state = core::GetClientState();
  serverlink::SetRequestTimeShift(0);
  core::SetClientState(core::kStateReady);
  if (taken) return 1;
  return state == core::kStateClockOutOfSync ? 0 : -1;
}

// The edge between a shift the server refuses and one it takes, to
// within kClockPrecision: the taken side.
int64_t Edge(int64_t refused, int64_t taken, int* probes) {
  while (refused - taken > kClockPrecision || taken - refused > kClockPrecision) {
    int64_t middle = refused + (taken - refused) / 2;
    if (TakesShift(middle, probes) == 1) {
      taken = middle;
    } else {
      refused = middle;
    }
  }
  return taken;
}

// Session starts at shifted times: doubling steps either way until one is
// taken, then both edges of the window around it.
ClockWindow FindClockWindow() {
  ClockWindow window;
  int64_t taken = 0;
  int64_t refusedBefore = 0;  // the last refused shift on the same side
  for (int64_t step = kClockFirstStep; step <= kClockSearchLimit && !window.found; step *= 2) {
    for (int64_t shift : {step, -step}) {
      int answer = TakesShift(shift, &window.probes);
      if (answer < 0) return window;
      if (answer == 1) {
        window.found = true;
        taken = shift;
        refusedBefore = shift / 2 == 0 || step == kClockFirstStep ? 0 : shift / 2;
        break;
      }
    }
  }
  if (!window.found) return window;
  // The edge toward our clock lies between the last refused shift and the
  // taken one; the far edge beyond it, found by doubling again.
  int64_t nearEdge = Edge(refusedBefore, taken, &window.probes);
  int64_t far = taken;
  int64_t step = taken > 0 ? kClockFirstStep : -kClockFirstStep;
  int64_t lastTaken = taken;
  for (;;) {
    far = lastTaken + step;
    if (TakesShift(far, &window.probes) != 1) break;
    lastTaken = far;
    step *= 2;
    if (step > kClockSearchLimit || -step > kClockSearchLimit) break;
  }
  int64_t farEdge = Edge(far, lastTaken, &window.probes);
  window.low = nearEdge < farEdge ? nearEdge : farEdge;
  window.high = nearEdge < farEdge ? farEdge : nearEdge;
  return window;
}

// "7 мин 5 с", "40 с".
std::string MinutesText(int64_t seconds) {
  if (seconds < 60) return std::to_string(seconds) + " с";
  return std::to_string(seconds / 60) + " мин " + std::to_string(seconds % 60) + " с";
}

}  // namespace

Finding CheckResolve(Doctor& doctor) {
  if (!doctor.settings) return Warn("Не проверено: настройки не прочитаны");
  serverlink::ServerEndpoint target = Target();
  platform::NetAddress address;
  int code = platform::NetResolve(target.host, target.port, &address);
  std::string what = UseProxy() ? "прокси-сервера" : "сервера АИС";
  if (code != 0) {
    return Fail("Имя " + what + " " + target.host + " не находится: проверьте DNS и настройки сети",
                Text(target) + ": resolver code " + std::to_string(code));
  }
  return Ok("Имя " + what + " находится", Text(target) + " -> " + platform::NetAddressText(address.ipv4));
}

Finding CheckConnect(Doctor& doctor) {
  if (!doctor.settings) return Warn("Не проверено: настройки не прочитаны");
  serverlink::ServerEndpoint server = serverlink::ServerAddress();
  serverlink::ServerEndpoint target = Target();
  platform::NetAddress address;
  if (platform::NetResolve(target.host, target.port, &address) != 0) return Fail("Нет соединения: имя не находится", Text(target));
  platform::Socket socket = platform::NetConnect(address, doctor.timeoutMs);
  if (!platform::SocketValid(socket)) {
    std::string detail = Text(target) + ": connect failed (system error " + std::to_string(platform::LastSystemError()) + ")";
    if (UseProxy()) return Fail("Прокси-сервер не принимает соединение: проверьте адрес и порт прокси", detail);
    return Fail("Нет связи с АИС: сервер не принимает соединение, проверьте сеть и брандмауэр", detail);
  }
  Finding finding = Ok("Соединение с АИС устанавливается напрямую", Text(server));
  if (UseProxy()) {
    int type = std::atoi(storage::GetSettingTextJson("IDC_PROXY_T").c_str());
    std::string via = "via " + Text(target) + " to " + Text(server);
    if (type == serverlink::kProxyHttp) {
      std::string answer;
      finding = HttpTunnel(socket, server, doctor.timeoutMs, &answer)
                    ? Ok("Прокси-сервер HTTP открыл туннель к АИС", via + ", proxy answered: " + answer)
                    : Fail("Прокси-сервер HTTP отказал в соединении с АИС: проверьте имя и пароль прокси и "
                           "разрешение на порт " + server.port,
                           via + ", proxy answered: " + answer);
    } else if (type == serverlink::kProxySocks5) {
      finding = serverlink::Socks5Tunnel(socket, server.host, server.port, doctor.timeoutMs)
                    ? Ok("Прокси-сервер SOCKS5 открыл туннель к АИС", via)
                    : Fail("Прокси-сервер SOCKS5 отказал в соединении с АИС: проверьте настройки прокси",
                           via + ", the proxy's replies were refused (see the Error log)");
    } else {
      finding = Ok("Соединение с прокси-сервером устанавливается (без рукопожатия)", via);
    }
  }
  platform::NetClose(&socket);
  doctor.reachable = finding.verdict == Verdict::Ok;
  return finding;
}

Finding CheckHandshake(Doctor& doctor) {
  if (!doctor.container) return Warn("Не проверено: ключ не открывается");
  if (!doctor.reachable) return Warn("Не проверено: нет соединения с АИС");
  int before = core::GetClientState();
  core::SetClientState(core::kStateReady);
  doctor.handshakeRan = true;
  doctor.session = exchange::StartExchangeWithServer();
  doctor.stateAfterHandshake = core::GetClientState();
  std::string detail = "StartExchangeWithServer " + std::string(doctor.session ? "true" : "false") +
                       ", client state " + std::to_string(doctor.stateAfterHandshake);
  core::SetClientState(before);
  if (doctor.session) return Ok("Соединение с АИС успешно установлено", detail);
  switch (doctor.stateAfterHandshake) {
    case core::kStateClockOutOfSync:
      return Fail("АИС отказал: ошибка синхронизации времени (код 12)", detail);
    case core::kStateRegistrationDeclined:
      return Fail("Организация не зарегистрирована в АИС: нажмите <Получить сообщения> в клиенте и "
                  "подтвердите регистрацию",
                  detail);
    default:
      return Fail("АИС не открыл сессию: обратитесь в техподдержку АИС с файлом журнала", detail);
  }
}

Finding CheckClock(Doctor& doctor) {
  int64_t now = platform::UnixNow();
  platform::CalendarTime utc = platform::UtcFromUnix(now);
  char ours[40];
  std::snprintf(ours, sizeof ours, "our clock %04d-%02d-%02d %02d:%02d:%02d UTC", utc.year, utc.month, utc.day,
                utc.hour, utc.minute, utc.second);
  std::string detail = ours;
  if (!doctor.handshakeRan) return Warn("Не проверено: сессия с АИС не начиналась", detail);
  if (doctor.stateAfterHandshake != core::kStateClockOutOfSync) {
    return Ok("Часы компьютера в пределах допуска АИС", detail + "; the server took the session start's time");
  }
  ClockWindow window = FindClockWindow();
  if (!window.found) {
    return Fail("Ошибка синхронизации времени с АИС: часы компьютера расходятся с АИС больше чем на двое суток. "
                "Проверьте установленную дату и время и укажите правильный часовой пояс UTC+03:00",
                detail + "; no request time within 2 days of ours was taken (" + std::to_string(window.probes) +
                    " session starts)");
  }
  int64_t distance = (window.low + window.high) / 2;
  std::string verb = distance > 0 ? "отстают" : "спешат";
  return Fail("Ошибка синхронизации времени с АИС: часы компьютера " + verb + " примерно на " +
                  MinutesText(distance < 0 ? -distance : distance) +
                  ". Проверьте установленную дату и время и укажите правильный часовой пояс UTC+03:00",
              detail + "; the server's clock is " + std::to_string(distance) + " s from ours, its tolerance about " +
                  std::to_string((window.high - window.low) / 2) + " s (code 12; found with " +
                  std::to_string(window.probes) + " session starts)");
}

Finding CheckServiceStatus(Doctor& doctor) {
  if (!doctor.session) return Warn("Не проверено: нет сессии с АИС");
  exchange::ReplyResult result;
  bool accepted = exchange::GetMyStatus(&result);
  std::string detail = "status request: " + std::to_string(result.kind) + "/" + std::to_string(result.code);
  if (accepted) return Ok("АИС отвечает, состояние обслуживания " + std::to_string(result.code), detail);
  if (result.kind == exchange::kReplyRefused) {
    std::string text = core::ToNarrow(exchange::ResultText(result.code), core::kCodePageUtf8);
    if (result.code == 3) return Warn("Требуется обновление программы: запустите клиент, он обновится сам", detail);
    return Fail("АИС отказал в запросе состояния: " + (text.empty() ? "код " + std::to_string(result.code) : text),
                detail);
  }
  return Fail("АИС не ответил на запрос состояния", detail);
}

}  // namespace tsr_tool::doctor
