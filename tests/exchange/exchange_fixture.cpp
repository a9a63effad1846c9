// The fixture of the exchange tests (see exchange_fixture.h).
#include "exchange_fixture.h"

#include <sqlite3.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "core/client_state.h"
#include "core/folders.h"
#include "core/text.h"
#include "crypto/cms.h"
#include "crypto/provider/provider.h"
#include "exchange/intake.h"
#include "exchange/reply.h"
#include "exchange/session.h"
#include "link/transport.h"
#include "platform/clock.h"
#include "platform/fault_injection.h"
#include "platform/ui.h"
#include "storage/database.h"
#include "storage/settings.h"

namespace fs = std::filesystem;

namespace exchange_test {

namespace {

std::string LogsOf(const std::string& root, const char* kind) {
  std::string text;
  fs::path folder = fs::path(root) / "Tessarin" / kind;
  std::error_code ignored;
  std::vector<fs::path> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder, ignored)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) text += test_support::ReadText(file.string());
  return text;
}

}  // namespace

Org PkiOrg(const std::string& name) {
  Org org;
  org.name = name;
  Bytes pem = test_support::ReadBytes(sim_test::PkiFolder() + "pki/certs/" + name + ".pem");
  EXPECT_EQ(crypto::provider::QueryCertificate(pem, &org.certificate), 0u) << name;
  crypto::provider::CertInfo info;
  EXPECT_EQ(crypto::provider::ReadCertificate(org.certificate, &info), 0u) << name;
  std::copy_n(info.keyId.begin(), std::min(info.keyId.size(), org.iks.size()), org.iks.begin());
  org.iksHex = core::HexEncode(org.iks.data(), org.iks.size());
  return org;
}

Bytes Base64Field(const json& value) { return core::Base64Decode(value.get<std::string>()); }

void ExchangeTest::SetUp() {
  fs::copy(sim_test::PkiFolder(), store.path, fs::copy_options::recursive);
  setenv("TESSARIN_CERTSTORE", store.path.c_str(), 1);
  unsetenv("TESSARIN_SERVER");
  crypto::ResetCertificateStateForTest();
  // As the key-medium check of the window's start learns it.
  crypto::SetProviderTypeForTest(crypto::provider::OwnProviderType());
  storage::ClearSettings();
  platform::ClearFaults();
  platform::ui::ResetForTest();
  platform::SetClockShiftForTest(0);
  core::SetClientState(core::kStateReady);
  exchange::ResetSessionStateForTest();
  exchange::ResetIntakeStateForTest();
  exchange::ResetReplyStateForTest();
  serverlink::SetTransportLimits({5000, 20000, serverlink::kDefaultTransportLimits.maxAnswerBytes});

  core::SetProgramFolder(program.path);
  fs::create_directories(core::DocumentsFolder());
  ASSERT_TRUE(storage::OpenDatabase(program.path + "TS.db", storage::kSchemaScript));
  // The list of an earlier test's table goes.
  storage::RebuildMessageList();
  storage::SetSettingText("IDC_PASS", L"12345678");
  alpha = PkiOrg("alpha");
  beta = PkiOrg("beta");
  UseCertificate("beta");
}

void ExchangeTest::TearDown() {
  sim.reset();
  storage::CloseDatabase();
  unsetenv("TESSARIN_SERVER");
  unsetenv("TESSARIN_CERTSTORE");
  serverlink::SetTransportLimits(serverlink::kDefaultTransportLimits);
  storage::ClearSettings();
  platform::ClearFaults();
  platform::ui::ResetForTest();
  core::SetClientState(core::kStateReady);
  exchange::ResetSessionStateForTest();
  exchange::ResetIntakeStateForTest();
  exchange::ResetReplyStateForTest();
  crypto::ResetCertificateStateForTest();
}

void ExchangeTest::StartSim(const std::vector<std::string>& extraArguments, bool registerClient) {
  std::vector<std::string> arguments = extraArguments;
  arguments.push_back("--quiet");
  sim = std::make_unique<sim_test::SimProcess>(arguments);
  ASSERT_TRUE(sim->started()) << "the simulator did not start";
  setenv("TESSARIN_SERVER", sim->endpoint().c_str(), 1);
  ASSERT_EQ(sim->Post("/organisations", json{{"pki", "alpha"}}).status, 201);
  if (registerClient) {
    ASSERT_EQ(sim->Post("/organisations", json{{"pki", "beta"}}).status, 201);
  }
}

void ExchangeTest::UseCertificate(const std::string& name) {
  Org org = PkiOrg(name);
  storage::SetSettingText("IDC_CERT", core::ToWide(org.iksHex, core::kCodePageUtf8));
  ASSERT_GT(crypto::ListCertificates(), 0);
  ASSERT_TRUE(exchange::CheckCert());
}

void ExchangeTest::ShowWindow() {
  platform::ui::CreateMainWindow(L"Tessarin", 800, 600);
  platform::ui::ShowMainWindow(platform::ui::Show::Normal);
}

std::vector<std::wstring> ExchangeTest::StatusLines() const {
  std::vector<std::wstring> lines;
  for (const std::wstring& line : platform::ui::StatusListLines()) lines.push_back(line.size() > 9 ? line.substr(9) : line);
  return lines;
}

void ExchangeTest::SetRequisites() {
  storage::SetSettingText("IDC_FACE", L"Иванова Ивана Ивановича");
  storage::SetSettingText("IDC_BASE", L"Устава");
  storage::SetSettingText("IDC_POST", L"Директор");
  storage::SetSettingText("IDC_NAME", L"Иванов И. И.");
}

json ExchangeTest::Inject(const json& message) {
  sim_test::AdminAnswer answer = sim->Post("/messages", message);
  EXPECT_EQ(answer.status, 201) << answer.body.dump();
  return answer.body;
}

json ExchangeTest::Mailbox(const std::string& org, bool payload) const {
  return sim->Get("/mailboxes/" + org + (payload ? "?payload=1" : "")).body;
}

json ExchangeTest::Received(const std::string& org, bool payload) const {
  return sim->Get("/received/" + org + (payload ? "?payload=1" : "")).body;
}

void ExchangeTest::ArmFault(const json& fault) { ASSERT_EQ(sim->Post("/faults", fault).status, 201); }

int64_t ExchangeTest::Counter(const std::string& name) const { return sim->Counter(name); }

int ExchangeTest::RowCount() const {
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(storage::Database(), "SELECT count(*) FROM Messages", -1, &statement, nullptr);
  int count = -1;
  if (sqlite3_step(statement) == SQLITE_ROW) count = sqlite3_column_int(statement, 0);
  sqlite3_finalize(statement);
  return count;
}

storage::StoredMessage ExchangeTest::Row(int32_t id) const {
  std::optional<storage::StoredMessage> row = storage::SelectForSending(id);
  EXPECT_TRUE(row.has_value()) << "no row " << id;
  return row.value_or(storage::StoredMessage{});
}

storage::MessageEntry ExchangeTest::EntryOfIdm(int32_t idm) const {
  int position = storage::FindMessageByIdm(idm);
  EXPECT_GE(position, 0) << "no entry for idm " << idm;
  return storage::MessageAt(position).value_or(storage::MessageEntry{});
}

Bytes ExchangeTest::OpenFor(const std::string& org, const Bytes& envelope) const {
  crypto::DataBlock plain;
  EXPECT_TRUE(crypto::DecryptMessage(crypto::MakeBlock(envelope), PkiOrg(org).iks, &plain)) << org;
  return crypto::BlockBytes(plain);
}

std::string ExchangeTest::NormalLog() const { return LogsOf(logs.folder.path, "Normal"); }

std::string ExchangeTest::ErrorLog() const { return LogsOf(logs.folder.path, "Error"); }

bool ExchangeTest::WaitFor(const std::function<bool()>& body, int timeoutMs) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < until) {
    if (body()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return body();
}

}  // namespace exchange_test
