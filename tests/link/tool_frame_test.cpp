// tsr-tool frame dump on the frames of data/: what support staff read.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "test_support.h"

namespace {

using test_support::RunTool;
using test_support::ToolRun;

TEST(TsrToolFrameDump, PrintsEveryFieldOfAFrame) {
  ToolRun run = RunTool(std::string("frame dump ") + LINK_TEST_DATA + "frame_all_fields.bin");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output,
            "frame    80 bytes\n"
            "flags    0x7E (01111110)\n"
            "type     41\n"
            "UNP      190000001\n"
            "branch   12\n"
            "IKS      0102030405060708090A0B0C0D0E0F1011121314\n"
            "name     \"Branch office 7\" (15 bytes)\n"
            "number   190000001000000002202610017\n"
            "expiry   1716864051 (2024-05-28 02:40:51 UTC)\n"
            "payload  6 bytes\n");
}

TEST(TsrToolFrameDump, ShowsAbsentFieldsAndNumberDigits) {
  ToolRun run = RunTool(std::string("frame dump ") + LINK_TEST_DATA + "frame_iks_number_payload3.bin");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_NE(run.output.find("flags    0x28 (00101000)\n"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("UNP      -\n"), std::string::npos);
  EXPECT_NE(run.output.find("number   000000123000000045000670008\n"), std::string::npos);
  EXPECT_NE(run.output.find("payload  3 bytes\n"), std::string::npos);
}

TEST(TsrToolFrameDump, TruncatedFrameAndWrongArguments) {
  test_support::TempFolder folder;
  std::vector<uint8_t> frame = test_support::ReadBytes(std::string(LINK_TEST_DATA) + "frame_all_fields.bin");
  frame.resize(60);
  test_support::WriteBytes(folder.path + "cut.bin", frame);
  ToolRun run = RunTool("frame dump " + folder.path + "cut.bin");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.output.find("frame    60 bytes, truncated\n"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("name     \"Branch office 7\" (15 bytes)\n"), std::string::npos);
  EXPECT_NE(run.output.find("number   (cut off)\n"), std::string::npos);
  EXPECT_NE(run.output.find("expiry   (cut off)\n"), std::string::npos);
  EXPECT_NE(run.output.find("payload  (cut off)\n"), std::string::npos);

  EXPECT_EQ(RunTool("frame dump " + folder.path + "missing.bin").exitCode, 1);
  EXPECT_EQ(RunTool("frame show x").exitCode, 2);
  EXPECT_EQ(RunTool("frame").exitCode, 2);
}

}  // namespace
