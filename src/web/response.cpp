// Framing of the web interface's answers (see response.h).
#include "web/response.h"

namespace web {

std::string FrameWebResponse(const std::string& body) {
  std::string response = "HTTP/1.1 200 OK\r\nServer: Tessarin\r\nContent-length:";
  response += std::to_string(body.size());
  response += "\r\nContent-type: text/html\r\n\r\n";
  response += body;
  return response;
}

}  // namespace web
