// tsr-tool doctor, the local web interface (web mode: the marker file
// "interface.web" in the program folder): its port answers, and answers as
// the client does (a JSONP body with the callback asked for).
#include <string>

#include "doctor.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/net.h"
#include "web/listener.h"

namespace tsr_tool::doctor {

Finding CheckWebInterface(Doctor& doctor) {
  if (!platform::FileExists(doctor.folder + "interface.web")) return Ok("Веб-интерфейс выключен", "no interface.web");
  uint16_t port = web::WebPort();
  std::string where = "127.0.0.1:" + std::to_string(port);
  if (port == 0) return Warn("Порт веб-интерфейса выбирается при запуске: не проверено", "TESSARIN_WEB_PORT=0");
  platform::NetAddress address{0x7F000001, port};
  platform::Socket socket = platform::NetConnect(address, doctor.timeoutMs);
  if (!platform::SocketValid(socket)) {
    return Fail("Веб-интерфейс не отвечает: запустите клиент", where + ": connect failed (system error " +
                                                                   std::to_string(platform::LastSystemError()) + ")");
  }
  const std::string request =
      "GET /?request=settings&callback=tsrdoctor HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
  std::string answer;
  if (platform::NetSendAll(socket, request.data(), request.size(), doctor.timeoutMs)) {
    char buffer[4096];
    for (;;) {
      int64_t got = platform::NetRecv(socket, buffer, sizeof buffer, doctor.timeoutMs);
      if (got <= 0 || answer.size() > 1 << 20) break;
      answer.append(buffer, static_cast<size_t>(got));
    }
  }
  platform::NetClose(&socket);
  std::string status = answer.substr(0, answer.find_first_of("\r\n"));
  if (answer.compare(0, 5, "HTTP/") != 0) {
    return Fail("Порт веб-интерфейса занят другой программой: закройте ее", where + " answered: " + status);
  }
  if (answer.find("tsrdoctor") == std::string::npos) {
    return Warn("Веб-интерфейс отвечает, но не на запрос без ключа страницы", where + " answered: " + status);
  }
  return Ok("Веб-интерфейс клиента отвечает", where + " answered: " + status);
}

}  // namespace tsr_tool::doctor
