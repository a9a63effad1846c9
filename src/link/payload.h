// Compression of the payloads of exchange records.
//
// A sender compresses a payload of more than 1000 bytes and adds 100 to the
// record's type; a receiver expands the payload of a record whose type is
// above 100 when it is longer than 100 bytes, and subtracts 100.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "link/exchange_record.h"

namespace serverlink {

constexpr size_t kCompressAbove = 1000;  // payloads longer than this are compressed
constexpr size_t kExpandAbove = 100;     // compressed payloads longer than this are expanded

std::vector<uint8_t> CompressPayload(const uint8_t* data, size_t size);

// Compresses record.payload and adds 100 to the type when the payload is
// longer than kCompressAbove. True when it did.
bool CompressRecordPayload(ExchangeRecord* record);

// Expands the payload when marked (see above). A damaged stream is logged
// and the record keeps what could be produced. False only when the payload
// was marked and could not be expanded whole.
bool ExpandPayload(ExchangeRecord* record);

}  // namespace serverlink
