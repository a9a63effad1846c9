// "state.txt": the short and the long record, never truncated.
#include "shell/state_file.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "core/client_state.h"
#include "platform/clock.h"
#include "platform/fault_injection.h"
#include "test_support.h"

namespace {

using test_support::ReadBytes;

class StateFileTest : public ::testing::Test {
 protected:
  void TearDown() override {
    platform::ClearFaults();
    core::SetClientState(0);
    core::SetFolderBusy(false);
  }
  test_support::ScopedLogFolder logs;
  test_support::TempFolder dir;
};

TEST_F(StateFileTest, TheLongRecordCarriesTimeFlagsStateAndHandle) {
  core::SetClientState(core::kStateNoLink);
  core::SetFolderBusy(true);
  int64_t before = platform::UnixNow();
  ASSERT_TRUE(shell::WriteStateFile(0x01020304, dir.path));
  std::vector<uint8_t> record = ReadBytes(dir.path + "state.txt");
  ASSERT_EQ(record.size(), 11u);
  uint32_t time = record[0] | record[1] << 8 | record[2] << 16 | static_cast<uint32_t>(record[3]) << 24;
  EXPECT_GE(time, static_cast<uint32_t>(before));
  EXPECT_LE(time, static_cast<uint32_t>(before + 2));
  EXPECT_EQ(record[4], 1);
  EXPECT_EQ(record[5], 0);
  EXPECT_EQ(record[6], 3);
  EXPECT_EQ((std::vector<uint8_t>(record.begin() + 7, record.end())), (std::vector<uint8_t>{4, 3, 2, 1}));
  EXPECT_EQ(shell::ReadStateFile(dir.path), 0x01020304u);
}

TEST_F(StateFileTest, AShortRecordOverALongOneKeepsTheHandleBytes) {
  ASSERT_TRUE(shell::WriteStateFile(4242, dir.path));
  ASSERT_TRUE(shell::WriteStateFile(0, dir.path));
  EXPECT_EQ(ReadBytes(dir.path + "state.txt").size(), 11u);
  EXPECT_EQ(shell::ReadStateFile(dir.path), 4242u);
}

TEST_F(StateFileTest, OnlyAnElevenByteFileGivesAHandle) {
  ASSERT_TRUE(shell::WriteStateFile(0, dir.path));
  EXPECT_EQ(ReadBytes(dir.path + "state.txt").size(), 7u);
  EXPECT_EQ(shell::ReadStateFile(dir.path), 0u);
  test_support::TempFolder empty;
  EXPECT_EQ(shell::ReadStateFile(empty.path), 0u);
}

TEST_F(StateFileTest, AFailedWriteIsReportedAsAFailure) {
  platform::InjectFault(platform::Syscall::Open, EACCES, 1);
  EXPECT_FALSE(shell::WriteStateFile(0, dir.path));
  platform::InjectFault(platform::Syscall::Write, ENOSPC, 1);
  EXPECT_FALSE(shell::WriteStateFile(0, dir.path));
}

}  // namespace
