// The command line (see options.h).
#include "options.h"

#include <cstdlib>
#include <functional>
#include <map>

namespace aissim {

namespace {

// A whole decimal number within [low, high].
bool ReadNumber(const std::string& text, int64_t low, int64_t high, int64_t* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  long long read = std::strtoll(text.c_str(), &end, 10);
  if (end == nullptr || *end != '\0' || read < low || read > high) return false;
  *value = read;
  return true;
}

}  // namespace

const char* UsageText() {
  return "usage: ais-sim [options]\n"
         "  --port N               protocol port on 127.0.0.1 (default 1080; 0 = any free port)\n"
         "  --admin-port N         admin API port on 127.0.0.1 (default 1081; 0 = any free port)\n"
         "  --db FILE              keep the state in this SQLite file (default: in memory)\n"
         "  --pki FOLDER           test PKI made by scripts/make-test-pki (keys for checks and injection)\n"
         "  --publish FILE         publish this program file at start (required, as POST /version)\n"
         "  --algorithms national|test\n"
         "                         what it signs and encrypts with: the national algorithms (default), or\n"
         "                         SHA-256 and 3DES, as a client of the test profile (the Windows build)\n"
         "  --clock-tolerance S    seconds a request's time may be off (default 300)\n"
         "  --no-registration      refuse registrations (plain answer, code 5)\n"
         "  --no-content-checks    route documents without opening them (for measuring a client alone)\n"
         "  --session-lifetime S   idle seconds before a session is forgotten (default 3600)\n"
         "  --io-timeout MS        longest silence of a client within a request (default 10000)\n"
         "  --request-deadline MS  longest time to receive one request (default 30000)\n"
         "  --max-connections N    connections served at once (default 1024)\n"
         "  --max-body BYTES       longest request body (default 33554432)\n"
         "  --quiet                no traffic log\n"
         "  --help                 this text\n";
}

bool ParseOptions(int argc, char** argv, SimOptions* options, std::string* error, bool* help) {
  *help = false;
  // Options with a numeric value: their range and where the value goes.
  struct NumericOption {
    int64_t low;                          // smallest value
    int64_t high;                         // largest value
    std::function<void(int64_t)> store;   // puts the value in place
  };
  const std::map<std::string, NumericOption> numeric = {
      {"--port", {0, 65535, [options](int64_t v) { options->port = static_cast<int>(v); }}},
      {"--admin-port", {0, 65535, [options](int64_t v) { options->adminPort = static_cast<int>(v); }}},
      {"--clock-tolerance", {0, 1LL << 40, [options](int64_t v) { options->handler.clockTolerance = v; }}},
      {"--session-lifetime", {1, 1LL << 40, [options](int64_t v) { options->sessionLifetime = v; }}},
      {"--io-timeout", {10, 3600000, [options](int64_t v) { options->server.ioTimeoutMs = static_cast<int>(v); }}},
      {"--request-deadline",
       {10, 3600000, [options](int64_t v) { options->server.requestDeadlineMs = static_cast<int>(v); }}},
      {"--max-connections", {1, 100000, [options](int64_t v) { options->server.maxConnections = static_cast<int>(v); }}},
      {"--max-body", {16, 1LL << 31, [options](int64_t v) { options->server.maxBody = static_cast<uint32_t>(v); }}},
  };
  for (int i = 0; i < argc; ++i) {
    std::string name = argv[i];
    if (name == "--help" || name == "-h") {
      *help = true;
      return true;
    }
    if (name == "--quiet") {
      options->quiet = true;
      continue;
    }
    if (name == "--no-registration") {
      options->handler.registrationAllowed = false;
      continue;
    }
    if (name == "--no-content-checks") {
      options->handler.contentChecks = false;
      continue;
    }
    if (i + 1 >= argc) {
      *error = "missing value or unknown option: " + name;
      return false;
    }
    std::string value = argv[++i];
    if (name == "--db") {
      options->database = value;
    } else if (name == "--pki") {
      options->pki = value;
    } else if (name == "--publish") {
      options->publish = value;
    } else if (name == "--algorithms") {
      if (value != "national" && value != "test") {
        *error = "bad value for --algorithms (national or test): " + value;
        return false;
      }
      options->testAlgorithms = value == "test";
    } else if (auto found = numeric.find(name); found != numeric.end()) {
      int64_t number = 0;
      if (!ReadNumber(value, found->second.low, found->second.high, &number)) {
        *error = "bad value for " + name + ": " + value;
        return false;
      }
      found->second.store(number);
    } else {
      *error = "unknown option: " + name;
      return false;
    }
  }
  return true;
}

}  // namespace aissim
