// The simulator's clock (see sim_clock.h).
#include "sim_clock.h"

#include <atomic>

#include "platform/clock.h"

namespace aissim {

namespace {
std::atomic<int64_t> gShift{0};
}

int64_t SimNow() { return platform::UnixNow() + gShift.load(); }

void SetClockShift(int64_t seconds) { gShift.store(seconds); }

int64_t ClockShift() { return gShift.load(); }

}  // namespace aissim
