// The process-wide client state and busy flags (see client_state.h): plain
// values shared by every thread, kept in atomics so that readers on other
// threads always see a whole value.
#include "core/client_state.h"

#include <atomic>

namespace core {

namespace {
std::atomic<int> clientState{kStateReady};
std::atomic<bool> folderBusy{false};
std::atomic<bool> moveBusy{false};
}  // namespace

int GetClientState() { return clientState.load(); }
void SetClientState(int state) { clientState.store(state); }
bool FolderBusy() { return folderBusy.load(); }
void SetFolderBusy(bool busy) { folderBusy.store(busy); }
bool MoveBusy() { return moveBusy.load(); }
void SetMoveBusy(bool busy) { moveBusy.store(busy); }

}  // namespace core
