// Making system calls fail, for tests.
//
// The platform files consult this table before each call below; a test arms
// a fault to prove that a failed write, rename, connect, receive or thread
// start loses nothing. Production code never arms one.
#pragma once

#include <string>

namespace platform {

enum class Syscall {
  Open,
  Read,
  Write,
  Rename,
  Link,
  MakeFolder,
  Delete,
  Connect,
  Send,
  Recv,
  ThreadStart,
};

// The next `count` calls of `call` (every call when count < 0) on paths that
// start with `pathPrefix` (any path when empty) fail with the raw system
// code `error`.
void InjectFault(Syscall call, int error, int count = -1,
                 const std::string& pathPrefix = "");
void ClearFaults();

// For the platform files: true (and the system error set) when the call must
// fail.
bool FaultFires(Syscall call, const char* path = nullptr);

}  // namespace platform
