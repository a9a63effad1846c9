// What every exchange test starts from: a program folder of its own with
// the database "TS.db" and the "documents" folder, a copy of the tests'
// PKI as the certificate store, the settings of organisation "beta" (the
// client under test), every exchange flag, hook and client state back at
// its start, the window hidden, short transport limits, the log in a folder
// of its own. StartSim starts the simulator as a process and points the
// client at it; the other organisation of the tests, "alpha", sends its
// documents through the simulator's admin API.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "crypto/certificates.h"
#include "crypto/data_block.h"
#include "sim_process.h"
#include "storage/messages.h"
#include "test_support.h"

namespace exchange_test {

using Bytes = std::vector<uint8_t>;
using nlohmann::json;

// An organisation of the tests' PKI.
struct Org {
  std::string name;       // "alpha", "beta", ...
  crypto::KeyId iks{};    // key identifier
  std::string iksHex;     // its 40 upper-case hexadecimal digits
  Bytes certificate;      // DER
};
Org PkiOrg(const std::string& name);

class ExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts the simulator (with extra command-line arguments) and points
  // the client at it; registers "alpha" and, unless told otherwise,
  // "beta".
  void StartSim(const std::vector<std::string>& extraArguments = {}, bool registerClient = true);

  // Makes `name` the client's certificate: IDC_CERT, the list, CheckCert.
  void UseCertificate(const std::string& name);

  // Shows the main window, so that status lines are kept.
  void ShowWindow();
  std::vector<std::wstring> StatusLines() const;  // newest first, without their time stamps

  // The four requisites of a certificate answer, all long enough.
  void SetRequisites();

  // Simulator helpers.
  json Inject(const json& message);                    // POST /messages; fails the test unless 201
  json Mailbox(const std::string& org, bool payload = false) const;   // waiting messages
  json Received(const std::string& org, bool payload = false) const;  // what org sent
  void ArmFault(const json& fault);                    // POST /faults
  int64_t Counter(const std::string& name) const;

  // The table.
  int RowCount() const;
  storage::StoredMessage Row(int32_t id) const;        // SelectForSending of the id
  storage::MessageEntry EntryOfIdm(int32_t idm) const; // from the list; fails the test when absent

  // Opens an envelope addressed to a PKI organisation.
  Bytes OpenFor(const std::string& org, const Bytes& envelope) const;

  // Log texts so far.
  std::string NormalLog() const;
  std::string ErrorLog() const;

  // Runs `body` until it returns true or `timeoutMs` passed.
  static bool WaitFor(const std::function<bool()>& body, int timeoutMs = 10000);

  test_support::ScopedLogFolder logs;     // the client's log
  test_support::TempFolder program;       // the program folder
  test_support::TempFolder store;         // the certificate store
  std::unique_ptr<sim_test::SimProcess> sim;
  Org alpha;
  Org beta;
};

// Bytes of a JSON Base64 field.
Bytes Base64Field(const json& value);

}  // namespace exchange_test
