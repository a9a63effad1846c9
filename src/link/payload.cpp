// Compression of the payloads of exchange records (see payload.h). Called by
// the request/answer routine before a record is serialised and after an
// answer is parsed, and by the intake of received messages.
#include "link/payload.h"

#include "core/log.h"
#include "link/lzari.h"

namespace serverlink {

namespace {

constexpr uint8_t kCompressedTypeOffset = 100;  // added to the type of a compressed record

}  // namespace

std::vector<uint8_t> CompressPayload(const uint8_t* data, size_t size) {
  try {
    return LzariCompress(data, size);
  } catch (...) {
    core::LogException("CompressPayload");
    return {};
  }
}

bool CompressRecordPayload(ExchangeRecord* record) {
  try {
    if (record->payload.size() <= kCompressAbove) return false;
    std::vector<uint8_t> packed = LzariCompress(record->payload.data(), record->payload.size());
    record->payload = std::move(packed);
    record->payloadLength = static_cast<uint32_t>(record->payload.size());
    // A byte, as on the wire.
    record->type = static_cast<uint8_t>(record->type + kCompressedTypeOffset);
    return true;
  } catch (...) {
    core::LogException("CompressRecordPayload");
    return false;
  }
}

bool ExpandPayload(ExchangeRecord* record) {
  try {
    if (record->type <= kCompressedTypeOffset || record->payload.size() <= kExpandAbove) {
      return true;
    }
    std::vector<uint8_t> expanded;
    LzariResult result = LzariExpand(record->payload.data(), record->payload.size(), &expanded);
    if (result != LzariResult::Ok) {
      // The output ended short of the declared length; what was produced is
      // kept.
      core::LogError("dwPointerOut = (*dwSizeOut - 1). Count",
                     static_cast<int64_t>(expanded.size()));
    }
    record->payload = std::move(expanded);
    record->payloadLength = static_cast<uint32_t>(record->payload.size());
    record->type = static_cast<uint8_t>(record->type - kCompressedTypeOffset);
    return result == LzariResult::Ok;
  } catch (...) {
    core::LogException("ExpandPayload");
    return false;
  }
}

}  // namespace serverlink
