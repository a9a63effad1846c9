// One connection of the local web interface from its first byte to its
// close: the request is read whole, handed to the web commands' handler,
// and the handler's answer is sent back. Run by the listener (listener.h)
// on a thread of its own for each accepted connection.
#pragma once

#include <cstddef>
#include <string>

#include "platform/net.h"

namespace web {

// Turns one request text into the complete response bytes.
using WebHandler = std::string (*)(const std::string& request);

// Requests are received, and answers sent, in pieces of this size.
constexpr size_t kWebPiece = 12800;

// How long a worker waits for the page, and how much it takes.
struct WebLimits {
  int readTimeoutMs;      // silence of the page that ends the reading
  int sendTimeoutMs;      // wait for the page to take a piece of the answer
  size_t maxRequestBytes; // a longer request is closed unanswered
};
constexpr WebLimits kDefaultWebLimits{10000, 10000, 1u << 20};

// Process-wide limits of the workers started from now on (tests shorten
// them).
void SetWebLimits(const WebLimits& limits);
WebLimits GetWebLimits();

// How the reading of a request ended.
enum class RequestEnd {
  Whole,     // the headers' blank line and the body that Content-length declares
  Closed,    // the page closed its side first; what came is the request (unless its first line is cut)
  Failed,    // a receive failed or the page kept silent too long
  TooLarge,  // more than maxRequestBytes
};

// The length of the whole HTTP request once its headers have arrived: up to
// the blank line after them and as many bytes behind it as a Content-length
// header declares (none without one); npos while the blank line is missing.
// The blank line is looked for from `searchFrom` on.
size_t WholeRequestLength(const std::string& received, size_t searchFrom = 0);

// Receives the request in pieces of kWebPiece bytes, logging each piece.
RequestEnd ReadRequest(const platform::Socket& socket, const WebLimits& limits, std::string* request);

// Serves the connection: reads the request, notes the user's input, and
// unless the reading failed or ran over the limit sends handler's answer in
// pieces of at most kWebPiece bytes. Closes the socket in every case.
void ServeConnection(platform::Socket socket, WebHandler handler);

}  // namespace web
