// The single-instance rule: one client per program folder.
//
// The lock is named after the program folder with every separator replaced
// by '_'. On Linux it is a file of that name in the temporary folder held
// with flock; on Windows a named mutex. Either way it disappears with the
// process that holds it.
#pragma once

#include <string>

namespace platform {

enum class InstanceLock {
  Acquired,       // this process now holds it for the rest of its life
  HeldByAnother,  // another process holds it
  Failed,         // could not be created; LastSystemError() tells why
};

// Name of the lock of a program folder.
std::string InstanceLockName(const std::string& programFolder);

InstanceLock AcquireInstanceLock(const std::string& programFolder);

// True while some process (this one included) holds the lock of the folder.
bool InstanceLockHeld(const std::string& programFolder);

}  // namespace platform
