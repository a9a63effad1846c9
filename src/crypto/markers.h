// Entry and exit markers of the cryptographic operations: the operation's
// short name when it begins and the same name followed by " - end" when it
// returns, whichever way it returns. Used by the files of src/crypto/.
#pragma once

#include <string>

#include "core/log.h"

namespace crypto {

struct OperationMarkers {
  explicit OperationMarkers(const char* name) : name(name) { core::LogInfo(name); }
  ~OperationMarkers() {
    try {
      core::LogInfo(name + " - end");
    } catch (...) {
    }
  }
  OperationMarkers(const OperationMarkers&) = delete;
  OperationMarkers& operator=(const OperationMarkers&) = delete;
  std::string name;  // the marker
};

}  // namespace crypto
