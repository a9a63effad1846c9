// The traffic log (see sim_log.h).
#include "sim_log.h"

#include <atomic>
#include <cstdio>
#include <mutex>

#include "core/format.h"
#include "platform/clock.h"

namespace aissim {

namespace {
std::mutex gLock;
std::atomic<bool> gQuiet{false};
}  // namespace

void SetTrafficLogQuiet(bool quiet) { gQuiet.store(quiet); }

void LogLine(const std::string& text) {
  if (gQuiet.load()) return;
  platform::CalendarTime now = platform::LocalNow();
  std::string line = core::Format("%02d:%02d:%02d.%03d ", now.hour, now.minute, now.second, now.millisecond) +
                     text + "\n";
  std::lock_guard<std::mutex> hold(gLock);
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

}  // namespace aissim
