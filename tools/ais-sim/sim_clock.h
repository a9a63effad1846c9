// The simulator's own clock: the machine's time plus a shift that the
// admin API sets, so that tests can put the server out of step with the
// client (clock refusals) or move it past the expiry of waiting documents.
// Used by the request handlers, the expiry sweep and the admin API.
#pragma once

#include <cstdint>

namespace aissim {

// Seconds since 1970-01-01 UTC as the simulator sees them.
int64_t SimNow();

// The shift in seconds added to the machine's time (0 at start).
void SetClockShift(int64_t seconds);
int64_t ClockShift();

}  // namespace aissim
