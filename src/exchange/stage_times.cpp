// Time per intake stage (see stage_times.h).
#include "exchange/stage_times.h"

#include <atomic>
#include <chrono>

namespace exchange {

namespace {

std::atomic<int64_t> totals[kStageCount];
thread_local StageClock* running = nullptr;  // innermost clock of this thread

int64_t NowMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void Add(Stage stage, int64_t micros) { totals[static_cast<int>(stage)].fetch_add(micros); }

}  // namespace

StageTimes IntakeStageTimes() {
  StageTimes times;
  for (int i = 0; i < kStageCount; ++i) times.micros[i] = totals[i].load();
  return times;
}

void ResetIntakeStageTimes() {
  for (std::atomic<int64_t>& total : totals) total.store(0);
}

StageClock::StageClock(Stage counted) : stage(counted), start(NowMicros()), outer(running) {
  if (outer != nullptr) Add(outer->stage, start - outer->start);
  running = this;
}

StageClock::~StageClock() {
  const int64_t now = NowMicros();
  Add(stage, now - start);
  running = outer;
  if (outer != nullptr) outer->start = now;
}

}  // namespace exchange
