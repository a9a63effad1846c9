// The switch that holds back "signfirst" requests (see handlers.h): read by
// the dispatcher, cleared by PSS, on the folder pass thread; the web
// interface may read it too.
#include <atomic>

#include "folder/handlers.h"

namespace folder {

namespace {
std::atomic<bool> signFirstEnabled{true};
}  // namespace

bool SignFirstEnabled() { return signFirstEnabled.load(); }
void SetSignFirstEnabled(bool enabled) { signFirstEnabled.store(enabled); }

}  // namespace folder
