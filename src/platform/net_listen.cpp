// NetListen of net.h, the same on every system: NetBind, then
// NetStartListening (posix/net.cpp and win32/net.cpp define those).
#include "platform/error.h"
#include "platform/net.h"

namespace platform {

Socket NetListen(bool loopbackOnly, uint16_t port, int backlog) {
  Socket listener = NetBind(loopbackOnly, port);
  if (SocketValid(listener) && !NetStartListening(listener, backlog)) {
    int code = LastSystemError();
    NetClose(&listener);
    SetLastSystemError(code);
  }
  return listener;
}

}  // namespace platform
