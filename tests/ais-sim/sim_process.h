// The simulator as the tests run it: a real ais-sim process on free
// loopback ports with the tests' PKI, its traffic log in a file, its admin
// API called over HTTP, stopped (and if need be killed) when the object
// goes.
#pragma once

#include <sys/types.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "test_support.h"

namespace sim_test {

// The tests' PKI (made by scripts/make-test-pki at build time).
std::string PkiFolder();

// The key identifier (40 hex digits) of an organisation of that PKI, from
// its manifest ("name IKS UNP issuer serial PIN" lines); empty when none.
std::string PkiIks(const std::string& name);

// An answer of the admin API.
struct AdminAnswer {
  int status = 0;         // HTTP status, 0 when nothing came back
  nlohmann::json body;    // the parsed body (null when it was not JSON)
};

class SimProcess {
 public:
  // Starts ais-sim with --port 0 --admin-port 0 --pki <tests' PKI> and the
  // extra arguments, and waits until it printed both ports.
  explicit SimProcess(const std::vector<std::string>& extraArguments = {});
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  bool started() const { return port_ != 0 && adminPort_ != 0; }
  int port() const { return port_; }
  int adminPort() const { return adminPort_; }
  pid_t pid() const { return pid_; }
  std::string endpoint() const;  // "127.0.0.1:<port>"
  bool Running();

  // Asks it to stop through the admin API and waits; kills it when it does
  // not end in time. Returns its exit code (-1 when killed).
  int Stop();

  // Its standard output so far: the two port lines and the traffic log.
  std::string Log() const;
  // Its standard error (empty unless something went wrong).
  std::string Errors() const;

  AdminAnswer Get(const std::string& path) const;
  AdminAnswer Post(const std::string& path, const nlohmann::json& body = nlohmann::json::object()) const;
  AdminAnswer Delete(const std::string& path) const;

  // A counter of GET /counters (0 when absent).
  int64_t Counter(const std::string& name) const;

 private:
  test_support::TempFolder folder_;  // its temporary folder and output files
  pid_t pid_ = -1;
  int port_ = 0;
  int adminPort_ = 0;
};

}  // namespace sim_test
