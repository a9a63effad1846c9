// Xtea128: known answers worked out once with an independent model of the
// cipher, the code book mode with its zero-completed last block, and the
// vector engines against the portable one.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "core/text.h"
#include "link/xtea128.h"

namespace {

using Bytes = std::vector<uint8_t>;
using serverlink::XteaDirection;

Bytes Hex(const std::string& text) { return core::HexDecode(text); }

struct KnownAnswer {
  const char* key;    // 32 bytes
  const char* plain;  // one block
  const char* cipher;
};

const KnownAnswer kKnownAnswers[] = {
    {"0000000000000000000000000000000000000000000000000000000000000000",
     "00000000000000000000000000000000", "c0817a4ce5b42df7435d3438947c92be"},
    {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "000102030405060708090a0b0c0d0e0f", "ba1a09e8aa28ac6924941006c39ecd1d"},
    {"0123456789abcdeffedcba98765432100f1e2d3c4b5a69788796a5b4c3d2e1f0",
     "546573736172696e20626c6f636b2121", "d070372f0027894020e98d18ceb9a8a8"},
    {"ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff",
     "ffffffffffffffffffffffffffffffff", "41f8966c8db6bb05d7a66ab5f52aed28"},
};

TEST(Xtea128, KnownBlocks) {
  for (const KnownAnswer& answer : kKnownAnswers) {
    SCOPED_TRACE(answer.key);
    Bytes key = Hex(answer.key);
    Bytes block = Hex(answer.plain);
    ASSERT_EQ(key.size(), 32u);
    serverlink::Xtea128Block(block.data(), key.data(), XteaDirection::Encrypt);
    EXPECT_EQ(block, Hex(answer.cipher));
    serverlink::Xtea128Block(block.data(), key.data(), XteaDirection::Decrypt);
    EXPECT_EQ(block, Hex(answer.plain));
  }
}

TEST(Xtea128, CodeBookModeWithZeroCompletedLastBlock) {
  Bytes key = Hex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
  std::string text = "The quick brown fox jumps over the lazy dog";
  Bytes plain(text.begin(), text.end());
  Bytes cipher = serverlink::Xtea128Crypt(plain, key.data(), XteaDirection::Encrypt);
  EXPECT_EQ(cipher, Hex("a5ca3d1e5745b66958b414df54e99dbdb6c54770c7381ddb81e27f07f15bdfe5"
                        "544db29c0b1510b5df4599358e7c437e"));
  // Equal blocks give equal blocks.
  Bytes twice(32, 0x5A);
  Bytes out = serverlink::Xtea128Crypt(twice, key.data(), XteaDirection::Encrypt);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 16), Bytes(out.begin() + 16, out.end()));
}

TEST(Xtea128, SeventeenBytesBecomeThirtyTwoAndComeBackWithZeros) {
  Bytes key = Hex("0123456789abcdeffedcba98765432100f1e2d3c4b5a69788796a5b4c3d2e1f0");
  Bytes plain(17);
  for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<uint8_t>(0xA0 + i);
  uint8_t cipher[32];
  EXPECT_EQ(serverlink::Xtea128Crypt(plain.data(), plain.size(), key.data(), cipher, XteaDirection::Encrypt), 32u);
  uint8_t back[32];
  EXPECT_EQ(serverlink::Xtea128Crypt(cipher, 32, key.data(), back, XteaDirection::Decrypt), 32u);
  Bytes expected = plain;
  expected.resize(32, 0);
  EXPECT_EQ(Bytes(back, back + 32), expected);
}

TEST(Xtea128, LengthsRoundUpToWholeBlocks) {
  Bytes key(32, 7);
  uint8_t out[48];
  uint8_t in[33] = {};
  EXPECT_EQ(serverlink::Xtea128Crypt(in, 0, key.data(), out, XteaDirection::Encrypt), 0u);
  EXPECT_EQ(serverlink::Xtea128Crypt(in, 1, key.data(), out, XteaDirection::Encrypt), 16u);
  EXPECT_EQ(serverlink::Xtea128Crypt(in, 16, key.data(), out, XteaDirection::Encrypt), 16u);
  EXPECT_EQ(serverlink::Xtea128Crypt(in, 33, key.data(), out, XteaDirection::Encrypt), 48u);
  EXPECT_TRUE(serverlink::Xtea128Crypt(Bytes{}, key.data(), XteaDirection::Decrypt).empty());
}

TEST(Xtea128, InPlaceGivesTheSameAsSeparateBuffers) {
  Bytes key = Hex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
  Bytes data(1000 + 16);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  Bytes input(data.begin(), data.begin() + 1000);
  Bytes separate = serverlink::Xtea128Crypt(input, key.data(), XteaDirection::Encrypt);
  EXPECT_EQ(serverlink::Xtea128Crypt(data.data(), 1000, key.data(), data.data(), XteaDirection::Encrypt), 1008u);
  EXPECT_EQ(Bytes(data.begin(), data.begin() + 1008), separate);
}

TEST(Xtea128, EveryKeyWordMatters) {
  Bytes key = Hex("0123456789abcdeffedcba98765432100f1e2d3c4b5a69788796a5b4c3d2e1f0");
  Bytes block(16, 0x33);
  Bytes base = serverlink::Xtea128Crypt(block, key.data(), XteaDirection::Encrypt);
  for (size_t word = 0; word < 8; ++word) {
    for (int byte : {0, 3}) {
      Bytes changed = key;
      changed[word * 4 + static_cast<size_t>(byte)] ^= 0x01;
      EXPECT_NE(serverlink::Xtea128Crypt(block, changed.data(), XteaDirection::Encrypt), base)
          << "key word " << word << " byte " << byte;
    }
  }
}

TEST(Xtea128, EnginesAgreeWithThePortableOne) {
  std::mt19937 random(5);
  Bytes key(32);
  for (auto& b : key) b = static_cast<uint8_t>(random());
  // Sizes across the 8- and 16-block strides and their leftovers.
  std::vector<size_t> sizes;
  for (size_t size = 0; size <= 600; size += 1 + random() % 13) sizes.push_back(size);
  sizes.push_back(1 << 20);
  sizes.push_back((1 << 20) - 3);
  for (auto engine : {serverlink::XteaEngine::Avx2, serverlink::XteaEngine::Avx512}) {
    if (!serverlink::XteaEngineAvailable(engine)) {
      std::printf("engine %d not available here; not checked\n", static_cast<int>(engine));
      continue;
    }
    for (size_t size : sizes) {
      SCOPED_TRACE("engine " + std::to_string(static_cast<int>(engine)) + ", size " + std::to_string(size));
      Bytes input(size);
      for (auto& b : input) b = static_cast<uint8_t>(random());
      size_t rounded = (size + 15) / 16 * 16;
      for (auto direction : {XteaDirection::Encrypt, XteaDirection::Decrypt}) {
        Bytes portable(rounded), vector(rounded);
        serverlink::Xtea128CryptWith(serverlink::XteaEngine::Portable, input.data(), size, key.data(), portable.data(),
                               direction);
        ASSERT_EQ(serverlink::Xtea128CryptWith(engine, input.data(), size, key.data(), vector.data(), direction),
                  rounded);
        ASSERT_EQ(vector, portable);
      }
      Bytes there = serverlink::Xtea128Crypt(input, key.data(), XteaDirection::Encrypt);
      Bytes back = serverlink::Xtea128Crypt(there, key.data(), XteaDirection::Decrypt);
      input.resize(rounded, 0);
      ASSERT_EQ(back, input);
    }
  }
}

}  // namespace
