// "state.txt": the record the client leaves in its program folder at start
// (the marker the updater waits for, and the way a second client finds the
// running one) and, in the exchange-folder mode, in the exchange folder as a
// heartbeat for the accounting system. Layout in docs/state-file.md.
#pragma once

#include <cstdint>
#include <string>

namespace shell {

constexpr size_t kStateRecordShort = 7;   // time, two busy flags, client state
constexpr size_t kStateRecordLong = 11;   // ... and the running client's handle

// Writes the record into folder + "state.txt" (folder ends with the
// separator), opening it without truncating: a short record over a long one
// leaves bytes 7-10 as they were. With a handle of 0 the short record is
// written. False (after an error line) when the file cannot be opened.
bool WriteStateFile(uint32_t handle, const std::string& folder);

// The handle stored at offset 7, or 0 when the file is missing, cannot be
// opened or is not exactly 11 bytes long.
uint32_t ReadStateFile(const std::string& folder);

}  // namespace shell
