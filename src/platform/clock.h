// Wall-clock time, local and universal, and sleeping.
//
// Tests move the clock with SetClockShiftForTest instead of waiting: every
// reading below adds the shift, so a test can step into the next day.
#pragma once

#include <cstdint>

namespace platform {

struct CalendarTime {
  int year;         // e.g. 2026
  int month;        // 1..12
  int day;          // 1..31
  int hour;         // 0..23
  int minute;       // 0..59
  int second;       // 0..60
  int millisecond;  // 0..999
};

// Current local time.
CalendarTime LocalNow();

// Current time as seconds since 1970-01-01 00:00 UTC.
int64_t UnixNow();

// Current time as a file time: 100-ns units since 1601-01-01 UTC.
int64_t FileTimeNow();

// Local calendar time of a moment given in seconds since 1970.
CalendarTime LocalFromUnix(int64_t seconds);

// Universal (UTC) calendar time of a moment given in seconds since 1970.
CalendarTime UtcFromUnix(int64_t seconds);

// File time <-> seconds since 1970.
int64_t FileTimeFromUnix(int64_t seconds);
int64_t UnixFromFileTime(int64_t fileTime);

// Milliseconds of a clock that never jumps; for measuring intervals.
int64_t MonotonicMs();

void SleepMs(int milliseconds);

// Shifts every reading above (the monotonic clock included) by the given
// number of seconds.
void SetClockShiftForTest(int64_t seconds);

}  // namespace platform
