// Wall-clock time and sleeping, on Linux.
#include "platform/clock.h"

#include <time.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace platform {

namespace {

std::atomic<int64_t> clockShift{0};  // seconds added to every reading

// Seconds between 1601-01-01 and 1970-01-01.
constexpr int64_t kFileTimeEpochSeconds = 11644473600LL;

CalendarTime FromTm(const struct tm& tm, int millisecond) {
  return CalendarTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                      tm.tm_min,         tm.tm_sec,     millisecond};
}

struct timespec RealNow() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  now.tv_sec += clockShift.load();
  return now;
}

}  // namespace

CalendarTime LocalNow() {
  struct timespec now = RealNow();
  struct tm tm;
  localtime_r(&now.tv_sec, &tm);
  return FromTm(tm, static_cast<int>(now.tv_nsec / 1000000));
}

int64_t UnixNow() { return RealNow().tv_sec; }

int64_t FileTimeNow() {
  struct timespec now = RealNow();
  return (static_cast<int64_t>(now.tv_sec) + kFileTimeEpochSeconds) * 10000000LL + now.tv_nsec / 100;
}

CalendarTime LocalFromUnix(int64_t seconds) {
  time_t t = static_cast<time_t>(seconds);
  struct tm tm;
  localtime_r(&t, &tm);
  return FromTm(tm, 0);
}

CalendarTime UtcFromUnix(int64_t seconds) {
  time_t t = static_cast<time_t>(seconds);
  struct tm tm;
  gmtime_r(&t, &tm);
  return FromTm(tm, 0);
}

int64_t FileTimeFromUnix(int64_t seconds) { return (seconds + kFileTimeEpochSeconds) * 10000000LL; }

int64_t UnixFromFileTime(int64_t fileTime) {
  // Floor division, so that moments before 1970 round down too.
  int64_t units = fileTime - kFileTimeEpochSeconds * 10000000LL;
  return units >= 0 ? units / 10000000LL : -((-units + 9999999LL) / 10000000LL);
}

int64_t MonotonicMs() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (static_cast<int64_t>(now.tv_sec) + clockShift.load()) * 1000 + now.tv_nsec / 1000000;
}

void SleepMs(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

void SetClockShiftForTest(int64_t seconds) { clockShift = seconds; }

}  // namespace platform
