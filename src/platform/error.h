// Error codes of the operating system, as the platform layer reports them.
//
// Every platform function that fails leaves the raw code of the system
// (errno on Linux, GetLastError() on Windows) where LastSystemError() finds
// it, the way the system itself does. Callers log that raw code with
// LogError and decide what to do by its kind, which is the same on every
// system.
#pragma once

namespace platform {

enum class ErrorKind {
  None,           // the call succeeded
  AlreadyExists,  // file or folder already there
  NotFound,       // file, folder or host not there
  AccessDenied,   // no permission, read-only file system
  CrossDevice,    // a move that needs a copy
  Busy,           // held by somebody else (a lock, a sharing violation)
  TimedOut,       // a network peer kept silent too long
  Other,
};

// Raw code of the last failed platform call on this thread.
int LastSystemError();

// Sets the raw code, and the system's own error variable to it (errno,
// SetLastError); the platform files use it after a failure.
void SetLastSystemError(int code);

// Kind of a raw code.
ErrorKind ErrorKindOf(int code);

}  // namespace platform
