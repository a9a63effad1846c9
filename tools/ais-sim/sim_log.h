// The simulator's traffic log: one line per request and its answer on
// standard output, so that a failed test shows what crossed the wire.
// Written by the connection threads and the admin API.
#pragma once

#include <string>

namespace aissim {

// Turns the lines off (option --quiet); the first lines with the ports are
// printed by main and are not affected.
void SetTrafficLogQuiet(bool quiet);

// Writes "hh:mm:ss.mmm <text>" and flushes. Any thread may call it.
void LogLine(const std::string& text);

}  // namespace aissim
