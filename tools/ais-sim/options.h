// The simulator's command line (see README.md for the list). Read by main.
#pragma once

#include <cstdint>
#include <string>

#include "handler.h"
#include "server.h"

namespace aissim {

struct SimOptions {
  int port = 1080;                 // protocol port on 127.0.0.1; 0 picks a free one
  int adminPort = 1081;            // admin API port on 127.0.0.1; 0 picks a free one
  std::string database;            // SQLite file; empty keeps the state in memory
  std::string pki;                 // store folder made by make-test-pki, or empty
  std::string publish;             // program file published (required) at start, or empty
  bool testAlgorithms = false;     // SHA-256 and 3DES in what it signs and encrypts
  int64_t sessionLifetime = 3600;  // idle seconds before a session is forgotten
  bool quiet = false;              // no traffic log
  HandlerSettings handler;         // clock tolerance, registration
  ServerSettings server;           // timeouts and limits of connections
};

// Reads the arguments (without the program name). False with a message
// for the user when an option is unknown or its value is not valid; *help
// is set for --help.
bool ParseOptions(int argc, char** argv, SimOptions* options, std::string* error, bool* help);

// The usage text.
const char* UsageText();

}  // namespace aissim
