// Intake throughput: 500 documents of 10 KB wait on the local simulator
// (each asking for a delivery confirmation); ClientGetMessagesFromServer
// fetches, decrypts, expands, verifies, confirms, stores, deletes and lists
// every one, into an empty table and into one that already holds 10 000
// rows. Reports documents per second, the wall time per document and the
// milliseconds per document of each stage: network (every request and
// answer, the confirmation's included), CMS, SQLite (duplicate check and
// insert), list refresh. Stages are summed over intake's two threads: the
// helper fetches and opens (decrypts, expands, verifies) the next document
// and deletes the last one while the main thread confirms and stores the
// current one, so the stages add up to more than the wall time. The processor time the client and the simulator spent
// (user and system) shows how much of the wall time is waiting: for the
// disk's commit and for each other.
//
// The second argument says whether the simulator checks what it routes.
// Checking a delivery confirmation (opening the envelope, verifying the
// signature) is the server's work, and the two processes take turns on
// the machine's cores, so the client's own figure is the one measured with
// the checks off (0); the run with them on (1) shows the whole exchange.
// The same program measures the bare work of intake as a baseline
// (intake_reference.cpp), since the machine's speed varies between runs.
//
// The simulator runs as a process on free loopback ports with the
// simulator tests' PKI. The client's folder (and its database) is made
// under TESSARIN_BENCH_DIR when set, else the temporary folder, so the
// disk's commit cost can be compared with a memory file system.
#include <sqlite3.h>
#include <sys/resource.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <sstream>
#include <string>

#include "core/folders.h"
#include "core/text.h"
#include "crypto/certificates.h"
#include "crypto/provider/provider.h"
#include "exchange/intake.h"
#include "exchange/session.h"
#include "exchange/stage_times.h"
#include "link/transport.h"
#include "sample_documents.h"
#include "sim_process.h"
#include "storage/database.h"
#include "storage/messages.h"
#include "storage/settings.h"

namespace fs = std::filesystem;

namespace {

constexpr int kWaiting = 500;
constexpr size_t kDocumentBytes = 10 * 1024;
constexpr size_t kStoredBytes = 10 * 1024;

struct Folder {
  Folder() {
    const char* base = std::getenv("TESSARIN_BENCH_DIR");
    std::random_device random;
    path = (base != nullptr && base[0] != '\0' ? fs::path(base) : fs::temp_directory_path()) /
           ("tsr-intake-" + std::to_string(random()));
    fs::create_directories(path);
  }
  ~Folder() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
  fs::path path;  // the folder
};

std::string KeyIdText(const std::string& org) {
  std::vector<uint8_t> pem;
  std::ifstream in(sim_test::PkiFolder() + "pki/certs/" + org + ".pem", std::ios::binary);
  pem.assign(std::istreambuf_iterator<char>(in), {});
  crypto::provider::Bytes der;
  crypto::provider::QueryCertificate(pem, &der);
  crypto::provider::CertInfo info;
  crypto::provider::ReadCertificate(der, &info);
  return core::HexEncode(info.keyId);
}

// Processor time of this process, in milliseconds.
double OwnCpuMs() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

// Processor time of another process, in milliseconds (clock-tick grain).
double ProcessCpuMs(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), {});
  size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  unsigned long long user = 0;
  unsigned long long system = 0;
  // After the name: state is field 3; utime and stime are fields 14 and 15.
  for (int index = 3; index <= 15 && fields >> field; ++index) {
    if (index == 14) user = std::stoull(field);
    if (index == 15) system = std::stoull(field);
  }
  return static_cast<double>(user + system) * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Rows already in the table: one transaction, as the years of a user's
// documents would have left them.
void Prefill(int rows) {
  sqlite3* db = storage::Database();
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db,
                     "INSERT INTO MESSAGES (idm,dateIn,dateOperation,senderUNP,senderBranch,senderName,senderIKS,"
                     "type,status,message,number,expire) VALUES(?,?,0,190000001,0,?,?,52,2,?,?,0)",
                     -1, &insert, nullptr);
  const std::string name = "ООО Альфа";
  std::vector<uint8_t> body(kStoredBytes, 0x5A);
  std::vector<uint8_t> iks(20, 0x11);
  std::vector<uint8_t> number(18, 0);
  for (int i = 0; i < rows; ++i) {
    sqlite3_bind_int(insert, 1, 1000000 + i);
    sqlite3_bind_int64(insert, 2, 1600000000 + i);
    sqlite3_bind_blob(insert, 3, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
    sqlite3_bind_blob(insert, 4, iks.data(), 20, SQLITE_STATIC);
    body[0] = static_cast<uint8_t>(i);
    sqlite3_bind_blob(insert, 5, body.data(), static_cast<int>(body.size()), SQLITE_STATIC);
    sqlite3_bind_blob(insert, 6, number.data(), 18, SQLITE_STATIC);
    sqlite3_step(insert);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
}

void Intake(benchmark::State& state) {
  const int existing = static_cast<int>(state.range(0));
  const bool simulatorChecks = state.range(1) != 0;
  double documents = 0;
  double seconds = 0;
  double clientCpuMs = 0;
  double simCpuMs = 0;
  exchange::StageTimes stages;
  for (auto _ : state) {
    state.PauseTiming();
    Folder program;
    Folder store;
    fs::copy(sim_test::PkiFolder(), store.path, fs::copy_options::recursive);
    setenv("TESSARIN_CERTSTORE", store.path.c_str(), 1);
    std::vector<std::string> simArguments{"--quiet"};
    if (!simulatorChecks) simArguments.push_back("--no-content-checks");
    auto sim = std::make_unique<sim_test::SimProcess>(simArguments);
    if (!sim->started()) {
      state.SkipWithError("the simulator did not start");
      return;
    }
    setenv("TESSARIN_SERVER", sim->endpoint().c_str(), 1);
    sim->Post("/organisations", nlohmann::json{{"pki", "alpha"}});
    sim->Post("/organisations", nlohmann::json{{"pki", "beta"}});

    core::SetProgramFolder(program.path.string() + "/");
    if (!storage::OpenDatabase(program.path.string() + "/TS.db", storage::kSchemaScript)) {
      state.SkipWithError("no database");
      return;
    }
    storage::ClearSettings();
    storage::SetSettingText("IDC_PASS", L"12345678");
    storage::SetSettingText("IDC_CERT", core::ToWide(KeyIdText("beta"), core::kCodePageUtf8));
    crypto::ResetCertificateStateForTest();
    crypto::ListCertificates();
    exchange::ResetSessionStateForTest();
    exchange::ResetIntakeStateForTest();
    if (!exchange::CheckCert() || !exchange::CTS(nullptr)) {
      state.SkipWithError("no session with the simulator");
      return;
    }
    Prefill(existing);
    exchange::LoadMessagesFromBase();  // as the window's start does

    std::vector<uint8_t> page = bench_support::SampleHtml(kDocumentBytes);
    for (int i = 0; i < kWaiting; ++i) {
      std::string content = "<!-- " + std::to_string(i) + " -->" + std::string(page.begin(), page.end());
      sim->Post("/messages", nlohmann::json{{"from", "alpha"}, {"to", "beta"}, {"type", 52}, {"confirm", true},
                                            {"content", content}});
    }
    exchange::ResetIntakeStageTimes();
    const double clientCpuBefore = OwnCpuMs();
    const double simCpuBefore = ProcessCpuMs(sim->pid());
    const auto start = std::chrono::steady_clock::now();
    state.ResumeTiming();

    const int worked = exchange::ClientGetMessagesFromServer();

    state.PauseTiming();
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    clientCpuMs += OwnCpuMs() - clientCpuBefore;
    simCpuMs += ProcessCpuMs(sim->pid()) - simCpuBefore;
    exchange::StageTimes times = exchange::IntakeStageTimes();
    for (int i = 0; i < exchange::kStageCount; ++i) stages.micros[i] += times.micros[i];
    const size_t listed = storage::MessageCount();
    storage::CloseDatabase();
    sim.reset();
    unsetenv("TESSARIN_SERVER");
    unsetenv("TESSARIN_CERTSTORE");
    if (worked != kWaiting || listed != static_cast<size_t>(existing + kWaiting)) {
      state.SkipWithError("not every document was stored");
      return;
    }
    documents += worked;
    state.ResumeTiming();
  }
  state.counters["docs/s"] = documents / seconds;
  const char* names[exchange::kStageCount] = {"network_ms", "cms_ms", "sqlite_ms", "list_ms"};
  for (int i = 0; i < exchange::kStageCount; ++i) {
    state.counters[names[i]] = static_cast<double>(stages.micros[i]) / 1000.0 / documents;
  }
  state.counters["wall_ms"] = seconds * 1000.0 / documents;
  state.counters["client_cpu_ms"] = clientCpuMs / documents;
  state.counters["sim_cpu_ms"] = simCpuMs / documents;
}
BENCHMARK(Intake)
    ->ArgNames({"rows", "sim_checks"})
    ->Args({0, 0})
    ->Args({10000, 0})
    ->Args({0, 1})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
