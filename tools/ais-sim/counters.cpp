// Named counters (see counters.h).
#include "counters.h"

#include <mutex>

namespace aissim {

namespace {
std::mutex gLock;
std::map<std::string, int64_t> gCounters;
}  // namespace

void Count(const std::string& name, int64_t by) {
  std::lock_guard<std::mutex> hold(gLock);
  gCounters[name] += by;
}

std::map<std::string, int64_t> CounterSnapshot() {
  std::lock_guard<std::mutex> hold(gLock);
  return gCounters;
}

int64_t CounterValue(const std::string& name) {
  std::lock_guard<std::mutex> hold(gLock);
  auto found = gCounters.find(name);
  return found == gCounters.end() ? 0 : found->second;
}

void ResetCounters() {
  std::lock_guard<std::mutex> hold(gLock);
  gCounters.clear();
}

}  // namespace aissim
