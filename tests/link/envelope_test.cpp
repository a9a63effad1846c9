// The request header's byte order and the outer key, against values worked
// out here from the build's transport constant.
#include "link/envelope.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/text.h"
#include "link/sha512.h"

namespace {

TEST(RequestHeader, InterleavesLengthAndTimeBytes) {
  uint8_t header[serverlink::kHeaderBytes];
  serverlink::WriteRequestHeader(serverlink::RequestHeader{0xAC, 0x11223344, 0xA1B2C3D4}, header);
  // operation, L3, T1, L2, T0, T2, L1, L0, T3
  const uint8_t expected[serverlink::kHeaderBytes] = {0xAC, 0x11, 0xC3, 0x22, 0xD4, 0xB2, 0x33, 0x44, 0xA1};
  EXPECT_EQ(std::memcmp(header, expected, sizeof(header)), 0);

  serverlink::RequestHeader back = serverlink::ReadRequestHeader(expected);
  EXPECT_EQ(back.operation, 0xAC);
  EXPECT_EQ(back.length, 0x11223344u);
  EXPECT_EQ(back.time, 0xA1B2C3D4u);
}

TEST(RequestHeader, SessionRequestOf96Bytes) {
  uint8_t header[serverlink::kHeaderBytes];
  serverlink::WriteRequestHeader(serverlink::RequestHeader{serverlink::kOperationInSession, 96, 0x5F000102}, header);
  const uint8_t expected[serverlink::kHeaderBytes] = {0xAC, 0x00, 0x01, 0x00, 0x02, 0x00, 0x00, 0x60, 0x5F};
  EXPECT_EQ(std::memcmp(header, expected, sizeof(header)), 0);
}

TEST(OuterKey, IsTheDigestOfFiveTimeAndConstantGroupsAndTheTime) {
  std::vector<uint8_t> constant = core::HexDecode(TESSARIN_TEST_TRANSPORT_CONSTANT);
  ASSERT_EQ(constant.size(), 8u);
  for (uint32_t time : {0u, 0x5F000102u, 0xFFFFFFFFu}) {
    const uint8_t t[4] = {static_cast<uint8_t>(time), static_cast<uint8_t>(time >> 8),
                          static_cast<uint8_t>(time >> 16), static_cast<uint8_t>(time >> 24)};
    std::vector<uint8_t> block;
    for (int group = 0; group < 5; ++group) {
      block.insert(block.end(), t, t + 4);
      block.insert(block.end(), constant.begin(), constant.end());
    }
    block.insert(block.end(), t, t + 4);
    ASSERT_EQ(block.size(), 64u);
    uint8_t expected[64];
    ASSERT_TRUE(serverlink::Sha512(block.data(), block.size(), expected));

    uint8_t key[serverlink::kOuterKeyBytes];
    ASSERT_TRUE(serverlink::MakeOuterKey(time, key));
    EXPECT_EQ(std::memcmp(key, expected, sizeof(key)), 0) << time;
  }
  uint8_t a[serverlink::kOuterKeyBytes];
  uint8_t b[serverlink::kOuterKeyBytes];
  ASSERT_TRUE(serverlink::MakeOuterKey(1000, a));
  ASSERT_TRUE(serverlink::MakeOuterKey(1001, b));
  EXPECT_NE(std::memcmp(a, b, sizeof(a)), 0);
}

}  // namespace
