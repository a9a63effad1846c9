// Fixed vectors that the Linux and the Windows build both check, so that
// the two backends are seen to give the same bytes: the exchange-file
// cipher (MD5 of the key material, 40-bit RC4 without salt) and SHA-512.
#include <gtest/gtest.h>

#include "core/text.h"
#include "crypto/exchange_cipher.h"
#include "crypto/provider/provider.h"

namespace crypto_test {
namespace {

TEST(VectorsTest, ExchangeFileCipherAndSha512GiveTheSameBytesOnBothSystems) {
  uint8_t key16[16];
  for (int i = 0; i < 16; ++i) key16[i] = static_cast<uint8_t>(i);
  std::array<uint8_t, crypto::kKeyMaterialSize> material = crypto::KeyMaterial(key16);
  crypto::KeyMaterialHash hash;
  ASSERT_EQ(crypto::HashKeyMaterial(material.data(), &hash), 0u);
  EXPECT_EQ(core::HexEncode(hash.digest.data(), hash.digest.size()), "FEE47972259D9A2AB210E712449DE34E");
  std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><R/>";
  std::vector<uint8_t> data(text.begin(), text.end());
  ASSERT_TRUE(crypto::EncryptBuffer(&hash, &data));
  EXPECT_EQ(core::HexEncode(data),
            "074FC370BBB72154883FC5CF0516B1F791F20E59C99979723DB9BFC0C7005F47B81505C9F7AB3F6C5922");

  uint8_t digest[crypto::provider::kSha512Bytes];
  ASSERT_TRUE(crypto::provider::Sha512(reinterpret_cast<const uint8_t*>("abc"), 3, digest).ok());
  EXPECT_EQ(core::HexEncode(digest, sizeof digest),
            "DDAF35A193617ABACC417349AE20413112E6FA4E89A97EA20A9EEEE64B55D39A"
            "2192992A274FC1A836BA3C23A3FEEBBD454D4423643CE80E2A9AC94FA54CA49F");
  ASSERT_TRUE(crypto::provider::Sha512(nullptr, 0, digest).ok());
  EXPECT_EQ(core::HexEncode(digest, 16), "CF83E1357EEFB8BDF1542850D66D8007");
}

}  // namespace
}  // namespace crypto_test
