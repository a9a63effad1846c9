// The table of armed faults that the posix and win32 files consult before their
// system calls (see platform/fault_injection.h).
#include "platform/fault_injection.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/error.h"

namespace platform {

namespace {

struct Fault {
  Syscall call;            // which call fails
  int error;               // raw code it fails with
  int remaining;           // calls left to fail; negative: every call
  std::string pathPrefix;  // only paths starting with this; empty: any
};

std::mutex faultsMutex;
std::vector<Fault> faults;
std::atomic<bool> anyFault{false};  // fast path: nothing armed

}  // namespace

void InjectFault(Syscall call, int error, int count, const std::string& pathPrefix) {
  std::lock_guard<std::mutex> lock(faultsMutex);
  faults.push_back(Fault{call, error, count, pathPrefix});
  anyFault = true;
}

void ClearFaults() {
  std::lock_guard<std::mutex> lock(faultsMutex);
  faults.clear();
  anyFault = false;
}

bool FaultFires(Syscall call, const char* path) {
  if (!anyFault) return false;
  std::lock_guard<std::mutex> lock(faultsMutex);
  for (auto it = faults.begin(); it != faults.end(); ++it) {
    if (it->call != call) continue;
    if (!it->pathPrefix.empty() &&
        (path == nullptr || std::strncmp(path, it->pathPrefix.c_str(), it->pathPrefix.size()) != 0)) {
      continue;
    }
    int error = it->error;
    if (it->remaining > 0 && --it->remaining == 0) faults.erase(it);
    SetLastSystemError(error);
    return true;
  }
  return false;
}

}  // namespace platform
