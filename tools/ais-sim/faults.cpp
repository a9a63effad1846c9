// Armed faults (see faults.h).
#include "faults.h"

#include <mutex>

namespace aissim {

namespace {

std::mutex gLock;
std::vector<Fault> gFaults;

struct ActionName {
  FaultAction action;  // the action
  const char* name;    // its name in the admin API
};

constexpr ActionName kActionNames[] = {
    {FaultAction::Drop, "drop"},         {FaultAction::Code, "code"},
    {FaultAction::Delay, "delay"},       {FaultAction::Garbage, "garbage"},
    {FaultAction::Truncate, "truncate"}, {FaultAction::Corrupt, "corrupt"},
};

}  // namespace

const char* FaultActionName(FaultAction action) {
  for (const ActionName& entry : kActionNames) {
    if (entry.action == action) return entry.name;
  }
  return "";
}

std::optional<FaultAction> FaultActionFromName(const std::string& name) {
  for (const ActionName& entry : kActionNames) {
    if (name == entry.name) return entry.action;
  }
  return std::nullopt;
}

void ArmFault(const Fault& fault) {
  if (fault.remaining <= 0) return;
  std::lock_guard<std::mutex> hold(gLock);
  gFaults.push_back(fault);
}

void ClearFaults() {
  std::lock_guard<std::mutex> hold(gLock);
  gFaults.clear();
}

std::vector<Fault> ArmedFaults() {
  std::lock_guard<std::mutex> hold(gLock);
  return gFaults;
}

std::optional<Fault> TakeFault(int type) {
  std::lock_guard<std::mutex> hold(gLock);
  for (auto it = gFaults.begin(); it != gFaults.end(); ++it) {
    if (it->type != kAnyType && it->type != type) continue;
    Fault fired = *it;
    if (--it->remaining <= 0) gFaults.erase(it);
    return fired;
  }
  return std::nullopt;
}

}  // namespace aissim
