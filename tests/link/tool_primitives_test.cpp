// tsr-tool lzari, xtea and sha512: the files they write, what they print and
// their exit codes (0 done, 1 failed, 2 wrong arguments).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/text.h"
#include "link/xtea128.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

using test_support::RunTool;
using test_support::ToolRun;

const std::string kData = LINK_TEST_DATA;

TEST(TsrToolPrimitives, LzariWritesThePublishedStreamAndExpandsIt) {
  test_support::TempFolder folder;
  const std::string name = "russian_text_with_repeats";
  ASSERT_EQ(RunTool("lzari compress " + kData + name + ".in " + folder.path + "packed").exitCode, 0);
  EXPECT_EQ(test_support::ReadBytes(folder.path + "packed"), test_support::ReadBytes(kData + name + ".lzari"));
  ASSERT_EQ(RunTool("lzari expand " + folder.path + "packed " + folder.path + "back").exitCode, 0);
  EXPECT_EQ(test_support::ReadBytes(folder.path + "back"), test_support::ReadBytes(kData + name + ".in"));

  // A cut stream fails, but what could be expanded is written for a look.
  Bytes cut = test_support::ReadBytes(kData + name + ".lzari");
  cut.resize(cut.size() / 2);
  test_support::WriteBytes(folder.path + "cut", cut);
  EXPECT_EQ(RunTool("lzari expand " + folder.path + "cut " + folder.path + "part").exitCode, 1);
  EXPECT_FALSE(test_support::ReadBytes(folder.path + "part").empty());

  EXPECT_EQ(RunTool("lzari expand " + folder.path + "missing " + folder.path + "x").exitCode, 1);
  EXPECT_EQ(RunTool("lzari squeeze " + folder.path + "packed " + folder.path + "x").exitCode, 2);
  EXPECT_EQ(RunTool("lzari compress " + folder.path + "packed").exitCode, 2);
}

TEST(TsrToolPrimitives, XteaEnciphersWithTheHexKey) {
  test_support::TempFolder folder;
  const std::string key = "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f";
  test_support::WriteText(folder.path + "plain", "The quick brown fox jumps over the lazy dog");
  ASSERT_EQ(RunTool("xtea encrypt " + key + " " + folder.path + "plain " + folder.path + "cipher").exitCode, 0);
  EXPECT_EQ(core::HexEncode(test_support::ReadBytes(folder.path + "cipher")),
            "A5CA3D1E5745B66958B414DF54E99DBDB6C54770C7381DDB81E27F07F15BDFE5"
            "544DB29C0B1510B5DF4599358E7C437E");
  ASSERT_EQ(RunTool("xtea decrypt " + key + " " + folder.path + "cipher " + folder.path + "back").exitCode, 0);
  std::string back = test_support::ReadText(folder.path + "back");
  EXPECT_EQ(back, std::string("The quick brown fox jumps over the lazy dog") + std::string(5, '\0'));

  // The key must be exactly 64 hexadecimal digits.
  EXPECT_EQ(RunTool("xtea encrypt " + key.substr(1) + " " + folder.path + "plain " + folder.path + "x").exitCode, 2);
  EXPECT_EQ(RunTool("xtea encrypt " + key.substr(1) + "g " + folder.path + "plain " + folder.path + "x").exitCode,
            2);
  EXPECT_EQ(RunTool("xtea scramble " + key + " " + folder.path + "plain " + folder.path + "x").exitCode, 2);
  EXPECT_EQ(RunTool("xtea encrypt " + key + " " + folder.path + "missing " + folder.path + "x").exitCode, 1);
}

TEST(TsrToolPrimitives, Sha512PrintsTheDigest) {
  test_support::TempFolder folder;
  test_support::WriteText(folder.path + "abc", "abc");
  ToolRun run = RunTool("sha512 " + folder.path + "abc");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.output,
            "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
            "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f\n");
  EXPECT_EQ(RunTool("sha512 " + folder.path + "missing").exitCode, 1);
  EXPECT_EQ(RunTool("sha512").exitCode, 2);
}

TEST(TsrToolPrimitives, UsageAndUnknownCommands) {
  EXPECT_EQ(RunTool("").exitCode, 2);
  EXPECT_EQ(RunTool("no-such-command").exitCode, 2);
  ToolRun help = RunTool("--help");
  EXPECT_EQ(help.exitCode, 0);
  for (const char* command : {"lzari", "xtea", "sha512"}) {
    EXPECT_NE(help.output.find(command), std::string::npos) << command;
  }
}

}  // namespace
