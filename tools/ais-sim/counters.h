// Named counters of what the simulator saw and did: connections, requests
// by type, answers by kind and code, refusals of bad input, faults fired.
// Bumped by the connection threads and the handlers, read by the admin API
// and the tests.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace aissim {

void Count(const std::string& name, int64_t by = 1);

// A copy of every counter.
std::map<std::string, int64_t> CounterSnapshot();

// One counter, 0 when it was never bumped.
int64_t CounterValue(const std::string& name);

void ResetCounters();

}  // namespace aissim
