// LZARI streams: the same bytes as the published 1989 coder on many kinds of
// input, the canned streams of data/, round trips, and several threads
// compressing at once.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "link/lzari.h"
#include "lzari_reference.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes FromText(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes RandomBytes(size_t size, uint32_t seed, int alphabet = 256) {
  std::mt19937 random(seed);
  Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<uint8_t>(random() % static_cast<uint32_t>(alphabet));
  return bytes;
}

// Sentences built from a small vocabulary, Russian and English, so there are
// matches of every length and distance, as in real documents.
Bytes DocumentText(size_t size, uint32_t seed) {
  static const char* const kWords[] = {
      "договор", "поставки", "товара", "оплата", "стороны", "the", "supplier", "shall",
      "deliver", "goods", "invoice", "payment", "УНП", "100012345", "2024", "в", "и", "of",
  };
  std::mt19937 random(seed);
  std::string text;
  while (text.size() < size) {
    text += kWords[random() % (sizeof(kWords) / sizeof(kWords[0]))];
    text += random() % 9 == 0 ? ".\r\n" : " ";
  }
  text.resize(size);
  return FromText(text);
}

struct Sample {
  std::string name;  // what the input shows
  Bytes input;
};

std::vector<Sample> Samples() {
  std::vector<Sample> samples;
  samples.push_back({"empty", {}});
  samples.push_back({"one byte", {0x41}});
  samples.push_back({"one space", {' '}});
  samples.push_back({"one zero byte", {0}});
  samples.push_back({"two bytes", {0xFF, 0x00}});
  // Lengths around the look-ahead (60) and the ring (4096) and its
  // space-filled part (4036).
  for (size_t size : {3u, 59u, 60u, 61u, 119u, 120u, 121u, 4035u, 4036u, 4037u, 4095u, 4096u,
                      4097u, 4155u, 4156u, 8192u, 8193u}) {
    samples.push_back({"random " + std::to_string(size), RandomBytes(size, static_cast<uint32_t>(size))});
    samples.push_back({"text " + std::to_string(size), DocumentText(size, static_cast<uint32_t>(size))});
    samples.push_back({"spaces " + std::to_string(size), Bytes(size, ' ')});
    samples.push_back({"zeros " + std::to_string(size), Bytes(size, 0)});
  }
  // Long inputs: the frequency halving, many ring wraps, long matches that
  // replace tree nodes, and runs whose pending middle bits pile up.
  samples.push_back({"text 300000", DocumentText(300000, 7)});
  samples.push_back({"random 70000", RandomBytes(70000, 11)});
  samples.push_back({"two letters 100000", RandomBytes(100000, 13, 2)});
  samples.push_back({"four letters 50000", RandomBytes(50000, 17, 4)});
  samples.push_back({"zeros 200000", Bytes(200000, 0)});
  Bytes period;
  for (int i = 0; i < 100000; ++i) period.push_back(static_cast<uint8_t>("abcdefg"[i % 7]));
  samples.push_back({"period 7", period});
  Bytes blocks;  // a 5000-byte block repeated: matches just beyond the window
  Bytes block = RandomBytes(5000, 19);
  for (int i = 0; i < 8; ++i) blocks.insert(blocks.end(), block.begin(), block.end());
  samples.push_back({"blocks beyond the window", blocks});
  Bytes mixed = DocumentText(20000, 23);
  Bytes noise = RandomBytes(20000, 29);
  mixed.insert(mixed.end(), noise.begin(), noise.end());
  Bytes more = DocumentText(20000, 23);
  mixed.insert(mixed.end(), more.begin(), more.end());
  samples.push_back({"text, noise, the same text", mixed});
  return samples;
}

TEST(Lzari, StreamsAreTheSameAsThePublishedCoder) {
  for (const Sample& sample : Samples()) {
    SCOPED_TRACE(sample.name);
    Bytes ours = serverlink::LzariCompress(sample.input.data(), sample.input.size());
    Bytes published = lzari_reference::Encode(sample.input.data(), sample.input.size());
    ASSERT_EQ(ours, published);

    Bytes expanded;
    ASSERT_EQ(serverlink::LzariExpand(ours.data(), ours.size(), &expanded), serverlink::LzariResult::Ok);
    ASSERT_EQ(expanded, sample.input);
    ASSERT_EQ(lzari_reference::Decode(ours.data(), ours.size()), sample.input);
  }
}

TEST(Lzari, ManyShortRandomInputsMatchThePublishedCoder) {
  std::mt19937 random(2024);
  for (int round = 0; round < 300; ++round) {
    size_t size = random() % 700;
    int alphabet = 1 + static_cast<int>(random() % 256);
    Bytes input = RandomBytes(size, random(), alphabet);
    SCOPED_TRACE("size " + std::to_string(size) + ", alphabet " + std::to_string(alphabet));
    Bytes ours = serverlink::LzariCompress(input.data(), input.size());
    ASSERT_EQ(ours, lzari_reference::Encode(input.data(), input.size()));
    Bytes expanded;
    ASSERT_EQ(serverlink::LzariExpand(ours.data(), ours.size(), &expanded), serverlink::LzariResult::Ok);
    ASSERT_EQ(expanded, input);
  }
}

TEST(Lzari, LengthFieldIsLittleEndian) {
  Bytes input = DocumentText(0x012345, 3);
  Bytes packed = serverlink::LzariCompress(input.data(), input.size());
  ASSERT_GE(packed.size(), 4u);
  EXPECT_EQ(packed[0], 0x45);
  EXPECT_EQ(packed[1], 0x23);
  EXPECT_EQ(packed[2], 0x01);
  EXPECT_EQ(packed[3], 0x00);
  EXPECT_LT(packed.size(), input.size() / 2);  // text does compress
}

// data/<name>.in is the input, data/<name>.lzari its exact stream.
TEST(Lzari, CannedStreams) {
  const char* const kNames[] = {
      "empty_input_is_only_the_length",
      "single_byte",
      "spaces_match_the_initial_ring",
      "overlapping_match_abc",
      "run_longer_than_the_lookahead",
      "russian_text_with_repeats",
  };
  for (const char* name : kNames) {
    SCOPED_TRACE(name);
    Bytes input = test_support::ReadBytes(std::string(LINK_TEST_DATA) + name + ".in");
    Bytes stream = test_support::ReadBytes(std::string(LINK_TEST_DATA) + name + ".lzari");
    ASSERT_GE(stream.size(), 4u) << "missing data file";
    EXPECT_EQ(serverlink::LzariCompress(input.data(), input.size()), stream);
    Bytes expanded;
    ASSERT_EQ(serverlink::LzariExpand(stream.data(), stream.size(), &expanded), serverlink::LzariResult::Ok);
    EXPECT_EQ(expanded, input);
  }
}

TEST(Lzari, ThreadsCompressingAtOnceGetTheSameStreams) {
  const Bytes text = DocumentText(200000, 31);
  const Bytes noise = RandomBytes(60000, 37, 16);
  const Bytes textStream = serverlink::LzariCompress(text.data(), text.size());
  const Bytes noiseStream = serverlink::LzariCompress(noise.data(), noise.size());

  constexpr int kThreads = 6;
  std::vector<int> failures(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 3; ++round) {
        const Bytes& input = (t + round) % 2 == 0 ? text : noise;
        const Bytes& expected = (t + round) % 2 == 0 ? textStream : noiseStream;
        if (serverlink::LzariCompress(input.data(), input.size()) != expected) ++failures[t];
        Bytes expanded;
        if (serverlink::LzariExpand(expected.data(), expected.size(), &expanded) != serverlink::LzariResult::Ok ||
            expanded != input) {
          ++failures[t];
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
}

}  // namespace
