// DataBlock: the unit that the cryptographic and transport operations take
// and return: a label area, a byte count and an owned buffer. An operation
// that fills an output block allocates its buffer; the block frees it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace crypto {

constexpr size_t kDataBlockLabelSize = 128;

struct DataBlock {
  char label[kDataBlockLabelSize] = {};  // zero-filled label area ("pbSing" on an envelope by public key)
  uint32_t count = 0;                    // bytes held in buffer
  std::unique_ptr<uint8_t[]> buffer;     // the bytes, count long; null when count is 0
};

// Replaces the block's bytes by a copy of data (the label stays).
inline void SetBlockBytes(DataBlock* block, const uint8_t* data, size_t size) {
  block->buffer.reset();
  block->count = static_cast<uint32_t>(size);
  if (size == 0) return;
  block->buffer = std::make_unique<uint8_t[]>(size);
  std::memcpy(block->buffer.get(), data, size);
}

inline void SetBlockBytes(DataBlock* block, const std::vector<uint8_t>& data) {
  SetBlockBytes(block, data.data(), data.size());
}

inline std::vector<uint8_t> BlockBytes(const DataBlock& block) {
  if (block.count == 0 || !block.buffer) return {};
  return std::vector<uint8_t>(block.buffer.get(), block.buffer.get() + block.count);
}

inline DataBlock MakeBlock(const std::vector<uint8_t>& data) {
  DataBlock block;
  SetBlockBytes(&block, data);
  return block;
}

// Writes the label, cut to leave a terminating zero, and zeroes the rest.
inline void SetBlockLabel(DataBlock* block, const std::string& label) {
  std::memset(block->label, 0, sizeof block->label);
  std::memcpy(block->label, label.data(), std::min(label.size(), sizeof block->label - 1));
}

// Frees the bytes; the count becomes 0.
inline void ClearBlock(DataBlock* block) {
  block->buffer.reset();
  block->count = 0;
}

}  // namespace crypto
