// The answer of the local web interface as it goes on the wire: a status
// line, our server name, the body's length and type, then the body. Built
// by the web commands for every request; the listener sends it as it is.
// Format: docs/web-api.md.
#pragma once

#include <string>

namespace web {

// "HTTP/1.1 200 OK", "Server: Tessarin", "Content-length:" with the body's
// length in bytes and no space after the colon, "Content-type: text/html",
// a blank line and the body. Every request gets status 200 and the
// connection is closed after one answer.
std::string FrameWebResponse(const std::string& body);

}  // namespace web
