// Wall-clock time and sleeping, on Windows: the system time as a file time,
// local time through the time zone's rules for that date, and a tick count
// that never jumps.
#include "platform/clock.h"

#include <windows.h>

#include <atomic>

namespace platform {

namespace {

std::atomic<int64_t> clockShift{0};  // seconds added to every reading

// Seconds between 1601-01-01 and 1970-01-01.
constexpr int64_t kFileTimeEpochSeconds = 11644473600LL;
constexpr int64_t kUnitsPerSecond = 10000000LL;

FILETIME ToFiletime(int64_t value) {
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(value));
  time.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(value) >> 32);
  return time;
}

CalendarTime FromSystemTime(const SYSTEMTIME& time) {
  return CalendarTime{time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond, time.wMilliseconds};
}

CalendarTime Utc(int64_t fileTime) {
  FILETIME time = ToFiletime(fileTime);
  SYSTEMTIME utc{};
  FileTimeToSystemTime(&time, &utc);
  return FromSystemTime(utc);
}

CalendarTime Local(int64_t fileTime) {
  FILETIME time = ToFiletime(fileTime);
  SYSTEMTIME utc{};
  SYSTEMTIME local{};
  FileTimeToSystemTime(&time, &utc);
  // The zone's bias on that date (summer time or not), not today's.
  if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) local = utc;
  return FromSystemTime(local);
}

}  // namespace

int64_t FileTimeNow() {
  FILETIME now;
  GetSystemTimePreciseAsFileTime(&now);
  int64_t value = static_cast<int64_t>((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
  return value + clockShift.load() * kUnitsPerSecond;
}

CalendarTime LocalNow() { return Local(FileTimeNow()); }

int64_t UnixNow() { return UnixFromFileTime(FileTimeNow()); }

CalendarTime LocalFromUnix(int64_t seconds) {
  CalendarTime time = Local(FileTimeFromUnix(seconds));
  time.millisecond = 0;
  return time;
}

CalendarTime UtcFromUnix(int64_t seconds) {
  CalendarTime time = Utc(FileTimeFromUnix(seconds));
  time.millisecond = 0;
  return time;
}

int64_t FileTimeFromUnix(int64_t seconds) { return (seconds + kFileTimeEpochSeconds) * kUnitsPerSecond; }

int64_t UnixFromFileTime(int64_t fileTime) {
  // Floor division, so that moments before 1970 round down too.
  int64_t units = fileTime - kFileTimeEpochSeconds * kUnitsPerSecond;
  return units >= 0 ? units / kUnitsPerSecond : -((-units + kUnitsPerSecond - 1) / kUnitsPerSecond);
}

int64_t MonotonicMs() { return static_cast<int64_t>(GetTickCount64()) + clockShift.load() * 1000; }

void SleepMs(int milliseconds) { Sleep(milliseconds < 0 ? 0 : static_cast<DWORD>(milliseconds)); }

void SetClockShiftForTest(int64_t seconds) { clockShift = seconds; }

}  // namespace platform
