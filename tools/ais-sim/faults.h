// Faults the tests arm through the admin API: for the next N requests (of
// one type, or of any) the simulator misbehaves in a chosen way instead of,
// or before, answering normally. Armed faults are taken in the order they
// were armed; the first one that matches a request fires and counts down.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace aissim {

enum class FaultAction {
  Drop,      // close the connection without answering
  Code,      // refuse with a result code instead of handling the request
  Delay,     // wait, then handle the request normally
  Garbage,   // answer random bytes that look like an enciphered answer
  Truncate,  // handle the request, then send only the first half of the answer
  Corrupt,   // handle the request, then flip the last byte of the answer record's payload
};

// Requests of the session start match this type (its operation byte).
constexpr int kHandshakeType = 177;
constexpr int kAnyType = -1;

struct Fault {
  FaultAction action = FaultAction::Drop;  // what happens
  int type = kAnyType;                     // request type it applies to, or kAnyType
  int remaining = 1;                       // requests it still applies to
  int code = 0;                            // Code: the result code
  int kind = 255;                          // Code: 255 refused or 174 accepted
  bool plain = false;                      // Code: a plain answer (0xFF/0xAE, code) instead of an enciphered record
  int delayMs = 0;                         // Delay: how long
};

// Text names of the actions ("drop", "code", "delay", "garbage",
// "truncate", "corrupt") and back.
const char* FaultActionName(FaultAction action);
std::optional<FaultAction> FaultActionFromName(const std::string& name);

void ArmFault(const Fault& fault);
void ClearFaults();
std::vector<Fault> ArmedFaults();

// The first armed fault that applies to a request of this type, counted
// down (and dropped when used up); nothing when none applies.
std::optional<Fault> TakeFault(int type);

}  // namespace aissim
