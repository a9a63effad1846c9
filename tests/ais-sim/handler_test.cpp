// The simulator's pieces without a network: the command line, the
// session-start block, header checks, the countdown of armed faults, and
// the request handler fed with damaged requests.
#include <gtest/gtest.h>

#include <random>

#include "faults.h"
#include "handler.h"
#include "handshake.h"
#include "link/envelope.h"
#include "link/xtea128.h"
#include "options.h"
#include "sessions.h"
#include "sim_clock.h"
#include "state.h"

namespace aissim {
namespace {

bool Parse(std::vector<std::string> arguments, SimOptions* options, std::string* error) {
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  bool help = false;
  return ParseOptions(static_cast<int>(argv.size()), argv.data(), options, error, &help);
}

TEST(SimOptionsTest, ValuesAndRefusals) {
  SimOptions options;
  std::string error;
  ASSERT_TRUE(Parse({"--port", "0", "--admin-port", "9001", "--db", "state.db", "--clock-tolerance", "60",
                     "--no-registration", "--no-content-checks", "--max-body", "4096", "--quiet"},
                    &options, &error))
      << error;
  EXPECT_EQ(options.port, 0);
  EXPECT_EQ(options.adminPort, 9001);
  EXPECT_EQ(options.database, "state.db");
  EXPECT_EQ(options.handler.clockTolerance, 60);
  EXPECT_FALSE(options.handler.registrationAllowed);
  EXPECT_FALSE(options.handler.contentChecks);
  EXPECT_EQ(options.server.maxBody, 4096u);
  EXPECT_TRUE(options.quiet);
  EXPECT_FALSE(options.testAlgorithms);
  ASSERT_TRUE(Parse({"--algorithms", "test"}, &options, &error)) << error;
  EXPECT_TRUE(options.testAlgorithms);

  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {"--port", "65536"}, {"--port", "12x"}, {"--port"}, {"--max-connections", "0"}, {"--colour", "red"},
           {"--algorithms", "rsa"}}) {
    SimOptions ignored;
    EXPECT_FALSE(Parse(bad, &ignored, &error)) << bad[0];
    EXPECT_FALSE(error.empty());
  }
}

TEST(SimSessionStartBlockTest, ReadsMarkCertificateVersionAndBranch) {
  std::vector<uint8_t> block = {0xB2, 3, 0, 0, 0, 0x30, 0x01, 0x00, 0x01, 0x09, 0x0E, 0x03, 0x34, 0x12, 0, 0};
  SessionStartBlock parsed;
  ASSERT_TRUE(ParseSessionStart(block, &parsed));
  EXPECT_TRUE(parsed.registration);
  EXPECT_EQ(parsed.certificate, (std::vector<uint8_t>{0x30, 0x01, 0x00}));
  EXPECT_EQ(parsed.version[3], 0x03);
  EXPECT_EQ(parsed.branch, 0x1234);

  block[0] = 0x01;
  EXPECT_FALSE(ParseSessionStart(block, &parsed)) << "an unknown mark";
  block[0] = 0;
  block[1] = 6;
  EXPECT_FALSE(ParseSessionStart(block, &parsed)) << "the certificate runs into version and branch";
  block[1] = 0;
  EXPECT_FALSE(ParseSessionStart(block, &parsed)) << "no certificate";
}

TEST(SimCheckHeaderTest, LengthsAndOperations) {
  EXPECT_TRUE(CheckHeader({0xB1, 16, 0}, 1024).empty());
  EXPECT_TRUE(CheckHeader({0xAC, 80, 0}, 1024).empty());
  EXPECT_FALSE(CheckHeader({0xAC, 64, 0}, 1024).empty());
  EXPECT_FALSE(CheckHeader({0xB1, 0, 0}, 1024).empty());
  EXPECT_FALSE(CheckHeader({0xB1, 1025 + 15, 0}, 1024).empty());
  EXPECT_FALSE(CheckHeader({0xB1, 17, 0}, 1024).empty());
  EXPECT_FALSE(CheckHeader({0xAD, 16, 0}, 1024).empty());
}

TEST(SimFaultTableTest, FirstMatchingFaultFiresAndCountsDown) {
  ClearFaults();
  ArmFault({FaultAction::Drop, 40, 2, 0, 255, false, 0});
  ArmFault({FaultAction::Code, kAnyType, 1, 9, 255, false, 0});
  std::optional<Fault> first = TakeFault(3);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->action, FaultAction::Code) << "the drop is for type 40 only";
  EXPECT_FALSE(TakeFault(3));
  EXPECT_EQ(TakeFault(40)->action, FaultAction::Drop);
  EXPECT_EQ(ArmedFaults().at(0).remaining, 1);
  EXPECT_EQ(TakeFault(40)->action, FaultAction::Drop);
  EXPECT_FALSE(TakeFault(40));
  EXPECT_EQ(FaultActionFromName("truncate"), FaultAction::Truncate);
  EXPECT_FALSE(FaultActionFromName("Truncate"));
}

// Damaged requests of every kind get a plain refusal or an answer, never
// a crash or a read outside the bytes.
TEST(SimHandlerTest, DamagedRequestsAreAnsweredPlainly) {
  std::string error;
  ASSERT_TRUE(OpenState("", &error)) << error;
  ClearFaults();
  std::mt19937 random(12345);
  for (int round = 0; round < 400; ++round) {
    const bool session = round % 2 == 0;
    const uint32_t length = 16 * (1 + random() % (session ? 12 : 6)) + (session ? 64 : 0);
    std::vector<uint8_t> request(serverlink::kHeaderBytes + length);
    for (uint8_t& byte : request) byte = static_cast<uint8_t>(random());
    serverlink::WriteRequestHeader({session ? serverlink::kOperationInSession : serverlink::kOperationSessionStart,
                                    length, static_cast<uint32_t>(SimNow())},
                                   request.data());
    Reply reply = HandleRequestBytes(request.data(), request.size(), 1u << 20);
    ASSERT_EQ(reply.answer.size(), serverlink::kHeaderBytes) << reply.logLine;
    EXPECT_EQ(reply.answer[0], 0xFF);
    EXPECT_EQ(reply.answer[1], session ? 7 : 11) << reply.logLine;
    // The same request cut anywhere is refused as a whole.
    size_t cut = random() % request.size();
    Reply shortened = HandleRequestBytes(request.data(), cut, 1u << 20);
    EXPECT_EQ(shortened.answer, (std::vector<uint8_t>{0xFF, 11, 0, 0, 0, 0, 0, 0, 0}));
  }
  CloseState();
}

}  // namespace
}  // namespace aissim
