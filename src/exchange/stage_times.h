// Where intake spends its time: the network (requests and answers), the
// cryptography (decryption, verification, the confirmation's signature and
// envelope), the database (the duplicate check and the insert) and the
// message list's refresh. The intake benchmark reads them; they cost two
// clock readings per stage.
//
// A stage entered within another (a confirmation's request within the
// check of a document) pauses the outer one, so each microsecond is
// counted once. Any thread may add; the totals are process-wide.
#pragma once

#include <cstdint>

namespace exchange {

enum class Stage {
  Network,   // requests and their answers
  Crypto,    // CMS work
  Database,  // statements on the message table
  List,      // refreshing the message list and the window's view
};
constexpr int kStageCount = 4;

struct StageTimes {
  int64_t micros[kStageCount] = {};  // per Stage, in order
};

StageTimes IntakeStageTimes();
void ResetIntakeStageTimes();

// Counts the time of its life to the stage, less the time of stages
// entered within it on the same thread.
struct StageClock {
  explicit StageClock(Stage stage);
  ~StageClock();
  StageClock(const StageClock&) = delete;
  StageClock& operator=(const StageClock&) = delete;

  Stage stage;           // the stage counted
  int64_t start;         // when it was last resumed, microseconds
  StageClock* outer;     // the clock it paused
};

}  // namespace exchange
