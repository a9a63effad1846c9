// Sessions (see sessions.h).
#include "sessions.h"

#include <openssl/rand.h>

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>

namespace aissim {

namespace {

std::mutex gLock;
std::map<std::array<uint8_t, 64>, Session> gSessions;
std::atomic<int64_t> gLifetime{3600};

// Forgets sessions idle longer than the lifetime; called under the lock.
void SweepIdle(int64_t now) {
  const int64_t lifetime = gLifetime.load();
  for (auto it = gSessions.begin(); it != gSessions.end();) {
    if (now - it->second.lastUsed > lifetime) {
      it = gSessions.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace

void SetSessionLifetime(int64_t seconds) { gLifetime.store(seconds); }

bool CreateSession(const std::string& iks, int64_t now, Session* session) {
  Session made;
  if (RAND_bytes(made.id.data(), static_cast<int>(made.id.size())) != 1) return false;
  if (RAND_bytes(made.key.data(), static_cast<int>(made.key.size())) != 1) return false;
  made.iks = iks;
  made.lastUsed = now;
  std::lock_guard<std::mutex> hold(gLock);
  SweepIdle(now);
  gSessions[made.id] = made;
  *session = made;
  return true;
}

std::optional<Session> FindSession(const uint8_t id[64], int64_t now) {
  std::array<uint8_t, 64> wanted;
  std::memcpy(wanted.data(), id, wanted.size());
  std::lock_guard<std::mutex> hold(gLock);
  auto found = gSessions.find(wanted);
  if (found == gSessions.end()) return std::nullopt;
  if (now - found->second.lastUsed > gLifetime.load()) {
    gSessions.erase(found);
    return std::nullopt;
  }
  found->second.lastUsed = now;
  return found->second;
}

size_t ExpireAllSessions() {
  std::lock_guard<std::mutex> hold(gLock);
  size_t count = gSessions.size();
  gSessions.clear();
  return count;
}

size_t SessionCount() {
  std::lock_guard<std::mutex> hold(gLock);
  return gSessions.size();
}

}  // namespace aissim
