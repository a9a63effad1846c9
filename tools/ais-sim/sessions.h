// Sessions granted at session start: a random 64-byte identifier and a
// random 64-byte key per handshake, tied to the organisation (by its key
// identifier). Kept in memory only: after a restart, or once a session has
// been idle longer than its lifetime or was expired through the admin API,
// the client is told the session is unknown (code 7) and shakes hands
// again. Used by the handshake, the in-session requests and the admin API.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace aissim {

struct Session {
  std::array<uint8_t, 64> id{};   // session identifier, sent before every request
  std::array<uint8_t, 64> key{};  // session key; its first 32 bytes key Xtea128
  std::string iks;                // organisation: 40 upper-case hex digits
  int64_t lastUsed = 0;           // simulator time of the last request
};

// Idle time after which a session is forgotten (default one hour).
void SetSessionLifetime(int64_t seconds);

// A new session for the organisation, with fresh random identifier and
// key. False when the random generator failed.
bool CreateSession(const std::string& iks, int64_t now, Session* session);

// The session with that identifier, touched at `now`; nothing when it is
// unknown or has been idle too long (it is then forgotten).
std::optional<Session> FindSession(const uint8_t id[64], int64_t now);

// Forgets every session; returns how many there were.
size_t ExpireAllSessions();

size_t SessionCount();

}  // namespace aissim
