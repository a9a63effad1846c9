// Speed of the message table: storing received messages one statement (and
// one commit) at a time, as intake does, and rebuilding the message list
// from a table of 10 000 rows. The journal mode is an argument of the store
// benchmark: 0 the default rollback journal, 1 write-ahead log, to show
// whether changing it would pay; both leave a file stock SQLite reads.
#include <sqlite3.h>

#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>
#include <string>

#include "storage/database.h"
#include "storage/messages.h"

namespace {

constexpr int kMessages = 10000;
constexpr size_t kMessageBytes = 10 * 1024;

// A fresh folder for one database, removed afterwards.
struct BenchFolder {
  BenchFolder() {
    std::random_device random;
    path = std::filesystem::temp_directory_path() / ("tsr-bench-" + std::to_string(random()));
    std::filesystem::create_directories(path);
  }
  ~BenchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::filesystem::path path;  // the folder
};

storage::NewMessage SampleMessage(int i) {
  storage::NewMessage m;
  m.idm = i;
  m.dateIn = 1700000000 + i;
  m.senderUNP = 190000000 + i % 1000;
  m.senderBranch = 1;
  m.senderName = "ООО \"Отправитель документов\" № " + std::to_string(i % 1000);
  m.senderIKS.fill(static_cast<uint8_t>(i));
  m.type = storage::kMessageDocument;
  m.message.assign(kMessageBytes, static_cast<uint8_t>(i * 7));
  m.number.fill(static_cast<uint8_t>(i));
  return m;
}

void StoreMessages(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    BenchFolder folder;
    if (!storage::OpenDatabase((folder.path / "TS.db").string(), storage::kSchemaScript)) {
      state.SkipWithError("cannot open the database");
      return;
    }
    if (state.range(0) == 1) sqlite3_exec(storage::Database(), "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    std::vector<storage::NewMessage> messages;
    messages.reserve(kMessages);
    for (int i = 0; i < kMessages; ++i) messages.push_back(SampleMessage(i));
    state.ResumeTiming();

    for (const storage::NewMessage& m : messages) {
      if (storage::InsertMessage(m) != 0) {
        state.SkipWithError("insert failed");
        break;
      }
    }

    state.PauseTiming();
    storage::CloseDatabase();
    state.ResumeTiming();
  }
  state.counters["rows/s"] =
      benchmark::Counter(static_cast<double>(kMessages) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}
BENCHMARK(StoreMessages)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void LoadMessageList(benchmark::State& state) {
  BenchFolder folder;
  if (!storage::OpenDatabase((folder.path / "TS.db").string(), storage::kSchemaScript)) {
    state.SkipWithError("cannot open the database");
    return;
  }
  sqlite3_exec(storage::Database(), "BEGIN", nullptr, nullptr, nullptr);
  for (int i = 0; i < kMessages; ++i) storage::InsertMessage(SampleMessage(i));
  sqlite3_exec(storage::Database(), "COMMIT", nullptr, nullptr, nullptr);

  for (auto _ : state) {
    auto list = storage::RebuildMessageList();
    if (!list || *list != static_cast<size_t>(kMessages)) {
      state.SkipWithError("list incomplete");
      break;
    }
    benchmark::DoNotOptimize(list);
  }
  storage::CloseDatabase();
}
BENCHMARK(LoadMessageList)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
