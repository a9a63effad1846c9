// SHA-512: the published test messages, including the one spanning two
// blocks and the million-byte one.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/text.h"
#include "link/sha512.h"

namespace {

std::string Digest(const std::string& message) {
  uint8_t digest[serverlink::kSha512Bytes];
  EXPECT_TRUE(serverlink::Sha512(reinterpret_cast<const uint8_t*>(message.data()), message.size(), digest));
  return core::HexEncode(digest, sizeof(digest));
}

TEST(Sha512, PublishedTestMessages) {
  EXPECT_EQ(Digest(""),
            "CF83E1357EEFB8BDF1542850D66D8007D620E4050B5715DC83F4A921D36CE9CE"
            "47D0D13C5D85F2B0FF8318D2877EEC2F63B931BD47417A81A538327AF927DA3E");
  EXPECT_EQ(Digest("abc"),
            "DDAF35A193617ABACC417349AE20413112E6FA4E89A97EA20A9EEEE64B55D39A"
            "2192992A274FC1A836BA3C23A3FEEBBD454D4423643CE80E2A9AC94FA54CA49F");
  EXPECT_EQ(Digest("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "204A8FC6DDA82F0A0CED7BEB8E08A41657C16EF468B228A8279BE331A703C335"
            "96FD15C13B1B07F9AA1D3BEA57789CA031AD85C7A71DD70354EC631238CA3445");
  EXPECT_EQ(Digest(std::string(1000000, 'a')),
            "E718483D0CE769644E2E42C7BC15B4638E1F98B13B2044285632A803AFA973EB"
            "DE0FF244877EA60A4CB0432CE577C31BEB009C5C2C49AA2E4EADB217AD8CC09B");
}

TEST(Sha512, NullDataWithZeroLength) {
  uint8_t digest[serverlink::kSha512Bytes];
  ASSERT_TRUE(serverlink::Sha512(nullptr, 0, digest));
  EXPECT_EQ(core::HexEncode(digest, 4), "CF83E135");
}

}  // namespace
