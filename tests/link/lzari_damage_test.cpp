// Damaged LZARI streams: cut, bit-flipped, with absurd or lying lengths.
// Expansion must end with a clear result, stay inside its buffers (the
// sanitizer build checks that) and keep only what the stream really held.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "link/lzari.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes SmallDocument() {
  std::string text;
  for (int i = 0; i < 40; ++i) {
    text += "Строка " + std::to_string(i * 37 % 101) + ": the supplier shall deliver the goods. ";
  }
  return Bytes(text.begin(), text.end());
}

void PutLength(Bytes* stream, uint32_t length) {
  for (int b = 0; b < 4; ++b) (*stream)[b] = static_cast<uint8_t>(length >> (8 * b));
}

size_t CommonPrefix(const Bytes& a, const Bytes& b) {
  size_t n = 0;
  while (n < a.size() && n < b.size() && a[n] == b[n]) ++n;
  return n;
}

TEST(LzariDamage, StreamsShorterThanTheLengthAreTooShort) {
  const uint8_t bytes[3] = {1, 0, 0};
  for (size_t size = 0; size < 4; ++size) {
    Bytes out{9};
    EXPECT_EQ(serverlink::LzariExpand(bytes, size, &out), serverlink::LzariResult::TooShort);
    EXPECT_TRUE(out.empty());
  }
}

TEST(LzariDamage, CutAtEveryLength) {
  const Bytes input = SmallDocument();
  const Bytes stream = serverlink::LzariCompress(input.data(), input.size());
  for (size_t cut = 4; cut < stream.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut) + " of " + std::to_string(stream.size()));
    Bytes out;
    serverlink::LzariResult result = serverlink::LzariExpand(stream.data(), cut, &out);
    ASSERT_LE(out.size(), input.size());
    if (stream.size() - cut > 2) {
      // More is missing than the decoder may read ahead.
      ASSERT_EQ(result, serverlink::LzariResult::Truncated);
    } else {
      ASSERT_TRUE(result == serverlink::LzariResult::Ok || result == serverlink::LzariResult::Truncated);
    }
    // What was produced is the document up to a few symbols decoded from
    // the bits the cut left undecided.
    ASSERT_GE(CommonPrefix(out, input) + 3 * 60, out.size());
  }
}

TEST(LzariDamage, FlippedBitsGiveAnswersNotCrashes) {
  const Bytes input = SmallDocument();
  const Bytes stream = serverlink::LzariCompress(input.data(), input.size());
  int differing = 0;
  for (size_t bit = 32; bit < stream.size() * 8; ++bit) {
    Bytes damaged = stream;
    damaged[bit / 8] ^= static_cast<uint8_t>(0x80 >> (bit % 8));
    Bytes out;
    serverlink::LzariResult result = serverlink::LzariExpand(damaged.data(), damaged.size(), &out);
    ASSERT_TRUE(result == serverlink::LzariResult::Ok || result == serverlink::LzariResult::Truncated) << bit;
    ASSERT_LE(out.size(), input.size()) << bit;
    if (out != input) ++differing;
  }
  // The stream has no check sum, but a flipped bit changes the content.
  EXPECT_GT(differing, static_cast<int>(stream.size() * 8 - 32) * 9 / 10);
}

TEST(LzariDamage, RandomGarbageAfterAPlausibleLength) {
  std::mt19937 random(99);
  for (int round = 0; round < 200; ++round) {
    Bytes garbage(4 + random() % 300);
    for (auto& b : garbage) b = static_cast<uint8_t>(random());
    uint32_t declared = 1 + random() % 100000;
    PutLength(&garbage, declared);
    Bytes out;
    serverlink::LzariResult result = serverlink::LzariExpand(garbage.data(), garbage.size(), &out);
    ASSERT_TRUE(result == serverlink::LzariResult::Ok || result == serverlink::LzariResult::Truncated);
    ASSERT_LE(out.size(), declared);
    if (result == serverlink::LzariResult::Ok) {
      ASSERT_EQ(out.size(), declared);
    }
  }
}

TEST(LzariDamage, AbsurdLengths) {
  const Bytes input = SmallDocument();
  Bytes stream = serverlink::LzariCompress(input.data(), input.size());
  Bytes out;

  PutLength(&stream, 0xFFFFFFFFu);
  EXPECT_EQ(serverlink::LzariExpand(stream.data(), stream.size(), &out), serverlink::LzariResult::TooLarge);
  EXPECT_TRUE(out.empty());

  PutLength(&stream, serverlink::kLzariMaxExpandedBytes + 1);
  EXPECT_EQ(serverlink::LzariExpand(stream.data(), stream.size(), &out), serverlink::LzariResult::TooLarge);

  // The largest allowed length on a short stream stops where the stream
  // ends, long before the declared length.
  PutLength(&stream, serverlink::kLzariMaxExpandedBytes);
  EXPECT_EQ(serverlink::LzariExpand(stream.data(), stream.size(), &out), serverlink::LzariResult::Truncated);
  EXPECT_LT(out.size(), size_t{1} << 20);
}

TEST(LzariDamage, ALongerDeclaredLengthKeepsTheWholeRealContent) {
  const Bytes input = SmallDocument();
  Bytes stream = serverlink::LzariCompress(input.data(), input.size());
  PutLength(&stream, static_cast<uint32_t>(input.size() + 5000));
  Bytes out;
  EXPECT_EQ(serverlink::LzariExpand(stream.data(), stream.size(), &out), serverlink::LzariResult::Truncated);
  ASSERT_GE(out.size(), input.size());
  EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<long>(input.size())), input);
}

TEST(LzariDamage, AShorterDeclaredLengthGivesThatMuch) {
  const Bytes input = SmallDocument();
  Bytes stream = serverlink::LzariCompress(input.data(), input.size());
  PutLength(&stream, 1000);
  Bytes out;
  EXPECT_EQ(serverlink::LzariExpand(stream.data(), stream.size(), &out), serverlink::LzariResult::Ok);
  EXPECT_EQ(out, Bytes(input.begin(), input.begin() + 1000));

  PutLength(&stream, 0);
  EXPECT_EQ(serverlink::LzariExpand(stream.data(), stream.size(), &out), serverlink::LzariResult::Ok);
  EXPECT_TRUE(out.empty());
}

}  // namespace
