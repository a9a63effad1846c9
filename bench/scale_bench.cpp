// Years of documents: a "TS.db" of 1 000, 10 000 and 100 000 stored
// messages of 3 KB each, and what the client's cost does with the length.
//   ListShown/N: the real client started on a program folder with that
//     table (desktop mode, its certificate selected, no server): from the
//     first line of its log to the list loaded (its "LMFB - end"), in ms
//     (list_ms), and its resident memory then (rss_mb) and at its peak
//     (peak_mb).
//   LoadList/N: the list loaded again in this process (LoadMessagesFromBase).
//   WholeList/N: "getdocuments" without a page: every row, as the page of
//     the first version asks (the web benchmark's 10 000 rows), asked again
//     and again of a table that does not change meanwhile.
//   NewestPage/N: the newest 50 documents as the web page asks for them
//     ("getdocuments" with offset 0 and count 50), the whole request.
//   IntakeOne/N: one new message stored as intake stores it: the duplicate
//     check, the insert and the list's refresh.
// The tables are made once per size under TESSARIN_BENCH_DIR when set,
// else the temporary folder (100 000 rows take about 350 MB); the programs
// are the build's own.
#include <sqlite3.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "client_process.h"
#include "exchange/intake.h"
#include "exchange/session.h"
#include "sample_documents.h"
#include "storage/database.h"
#include "storage/messages.h"
#include "storage/settings.h"
#include "test_support.h"
#include "web/web_request.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kDocumentBytes = 3 * 1024;

std::string BenchRoot() {
  const char* base = std::getenv("TESSARIN_BENCH_DIR");
  return base != nullptr && base[0] != '\0' ? std::string(base) + "/" : fs::temp_directory_path().string() + "/";
}

// A program folder with a table of `rows` messages, made on first use and
// removed at exit.
struct ScaleFolder {
  explicit ScaleFolder(int rows) {
    std::random_device random;
    path = BenchRoot() + "tsr-scale-" + std::to_string(rows) + "-" + std::to_string(random()) + "/";
    fs::create_directories(path);
    if (!storage::OpenDatabase(path + "TS.db", storage::kSchemaScript)) throw std::runtime_error("no database");
    const std::vector<uint8_t> page = bench_support::SampleHtml(kDocumentBytes);
    sqlite3_exec(storage::Database(), "BEGIN", nullptr, nullptr, nullptr);
    for (int i = 0; i < rows; ++i) {
      storage::NewMessage m;
      m.idm = 1000000 + i;
      m.dateIn = 1600000000 + i * 600;
      m.senderUNP = 190000000 + i % 1000;
      m.senderName = "ООО \"Поставщик\" № " + std::to_string(i % 1000);
      m.senderIKS.fill(static_cast<uint8_t>(i));
      m.type = i % 50 == 0 ? storage::kMessageCertificateRequest : storage::kMessageDocument;
      m.message = page;
      m.number.fill(static_cast<uint8_t>(i));
      if (storage::InsertMessage(m) != 0) throw std::runtime_error("insert failed");
    }
    // Years of work: most documents answered.
    sqlite3_exec(storage::Database(), "UPDATE Messages SET status = 2 WHERE id % 10 <> 0; COMMIT", nullptr, nullptr,
                 nullptr);
    storage::CloseDatabase();
  }
  ~ScaleFolder() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
  std::string path;  // ends with the separator
};

ScaleFolder& FolderOf(int rows) {
  static std::map<int, std::unique_ptr<ScaleFolder>> folders;
  std::unique_ptr<ScaleFolder>& folder = folders[rows];
  if (!folder) folder = std::make_unique<ScaleFolder>(rows);
  return *folder;
}

// "hh:mm:ss:mmm" of a log line, in ms of the day.
int64_t LineTime(const std::string& line) {
  int hour = 0, minute = 0, second = 0, milli = 0;
  const size_t space = line.find(' ');
  if (space == std::string::npos ||
      std::sscanf(line.c_str() + space + 1, "%d:%d:%d:%d", &hour, &minute, &second, &milli) != 4) {
    return -1;
  }
  return ((hour * 60 + minute) * 60 + second) * 1000 + milli;
}

// The time from the log's first line to its "LMFB - end", once written.
int64_t ListLoadMs(const std::string& logRoot) {
  std::error_code ignored;
  for (const auto& entry : fs::recursive_directory_iterator(logRoot, ignored)) {
    if (entry.path().extension() != ".txt") continue;
    std::ifstream file(entry.path());
    std::string first, line;
    std::getline(file, first);
    while (std::getline(file, line)) {
      if (line.find("LMFB - end") != std::string::npos) return LineTime(line) - LineTime(first);
    }
  }
  return -1;
}

double StatusMb(int pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field + ":", 0) == 0) return std::stod(line.substr(field.size() + 1)) / 1024.0;
  }
  return -1;
}

void ListShown(benchmark::State& state) {
  setenv("TESSARIN_BINARY_DIR", TESSARIN_BUILD_DIR, 0);
  const int rows = static_cast<int>(state.range(0));
  ScaleFolder& folder = FolderOf(rows);
  test_support::TempFolder store, temp;
  fs::copy(std::string(AIS_SIM_TEST_PKI), store.path, fs::copy_options::recursive);
  for (const char* built : {"src/shell/Tessarin", "src/updater/TSR_Update"}) {
    fs::copy_file(test_support::BuiltProgram(built), folder.path + fs::path(built).filename().string(),
                  fs::copy_options::overwrite_existing);
  }
  std::ifstream manifest(std::string(AIS_SIM_TEST_PKI) + "pki/manifest.txt");
  std::string name, iks;
  for (std::string line; std::getline(manifest, line);) {
    std::istringstream(line) >> name >> iks;
    if (name == "beta") break;
  }
  for (const auto& [setting, value] : {std::pair<std::string, std::string>{"IDC_CERT", iks}, {"IDC_PASS", "12345678"}}) {
    if (test_support::RunTool("settings set " + setting + " " + value + " --folder " + folder.path).exitCode != 0) {
      return state.SkipWithError("tsr-tool settings failed");
    }
  }
  double listMs = 0, rss = 0, peak = 0;
  for (auto _ : state) {
    fs::remove_all(temp.path + "Tessarin");
    shell_test::ClientProcess client;
    client.closedOutput = true;
    client.Start(folder.path, temp.path, {{"TESSARIN_CERTSTORE", store.path}, {"TESSARIN_SERVER", "127.0.0.1:1"}});
    int64_t ms = -1;
    for (int i = 0; i < 3000 && (ms = ListLoadMs(temp.path + "Tessarin")) < 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (ms < 0) return state.SkipWithError("the client did not load its list");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // its start settles
    listMs += static_cast<double>(ms);
    rss += StatusMb(client.pid, "VmRSS");
    peak += StatusMb(client.pid, "VmHWM");
    client.Stop();
    state.SetIterationTime(static_cast<double>(ms) / 1000.0);
  }
  const double runs = static_cast<double>(state.iterations());
  state.counters["list_ms"] = listMs / runs;
  state.counters["rss_mb"] = rss / runs;
  state.counters["peak_mb"] = peak / runs;
}

// The client's table opened in this process, its list loaded.
void OpenLoaded(ScaleFolder& folder) {
  storage::ClearSettings();
  if (!storage::OpenDatabase(folder.path + "TS.db", storage::kSchemaScript)) throw std::runtime_error("no database");
  storage::LoadSettings();
  exchange::LoadMessagesFromBase();
  web::SetAccessKey("");
}

void NewestPage(benchmark::State& state) {
  OpenLoaded(FolderOf(static_cast<int>(state.range(0))));
  const std::string request =
      "GET /?request=getdocuments&offset=0&count=50&phone=375291234567&callback=cb HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  web::HandleWebRequest(request);  // stores the phone once
  size_t bytes = 0;
  for (auto _ : state) bytes = web::HandleWebRequest(request).size();
  state.counters["answer_bytes"] = static_cast<double>(bytes);
  storage::CloseDatabase();
}

// The whole list as the page of the first version asks for it.
void WholeList(benchmark::State& state) {
  OpenLoaded(FolderOf(static_cast<int>(state.range(0))));
  const std::string request =
      "GET /?request=getdocuments&phone=375291234567&callback=cb HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  size_t bytes = 0;
  for (auto _ : state) bytes = web::HandleWebRequest(request).size();
  state.counters["answer_bytes"] = static_cast<double>(bytes);
  storage::CloseDatabase();
}

void LoadList(benchmark::State& state) {
  OpenLoaded(FolderOf(static_cast<int>(state.range(0))));
  for (auto _ : state) exchange::LoadMessagesFromBase();
  storage::CloseDatabase();
}

void IntakeOne(benchmark::State& state) {
  OpenLoaded(FolderOf(static_cast<int>(state.range(0))));
  const std::vector<uint8_t> page = bench_support::SampleHtml(kDocumentBytes);
  int32_t idm = 9000000;
  for (auto _ : state) {
    storage::NewMessage m;
    m.idm = ++idm;
    m.dateIn = 2000000000 + idm;
    m.senderUNP = 190000001;
    m.senderName = "ООО \"Новый поставщик\"";
    m.type = storage::kMessageDocument;
    m.message = page;
    if (storage::SelectIdByIdm(m.idm) != 0 || storage::InsertMessage(m) != 0 || !storage::AddNewMessagesToList()) {
      return state.SkipWithError("intake failed");
    }
  }
  // What was added goes again, so the next size starts from its own table.
  sqlite3_exec(storage::Database(), "DELETE FROM Messages WHERE idm > 9000000", nullptr, nullptr, nullptr);
  storage::CloseDatabase();
}

}  // namespace

BENCHMARK(ListShown)->Arg(1000)->Arg(10000)->Arg(100000)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(LoadList)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(WholeList)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(NewestPage)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(IntakeOne)->Arg(1000)->Arg(10000)->Arg(100000)->Iterations(200)->Unit(benchmark::kMicrosecond);
