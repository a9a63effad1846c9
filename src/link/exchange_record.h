// The request/answer record that every exchange with the server fills, and
// the 18-byte document number. How a record becomes bytes on the wire is
// described in docs/frame-format.md.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace serverlink {

// 18 bytes on the wire: five little-endian integers (13 bytes) and 5 zero
// bytes. Its text form is 27 digits "%09d%09d%04d%01d%04d".
struct NumberRecord {
  int32_t first = 0;    // digits 1-9: the sender's UNP
  int32_t second = 0;   // digits 10-18
  uint16_t third = 0;   // digits 19-22
  uint8_t fourth = 0;   // digit 23
  uint16_t fifth = 0;   // digits 24-27
};

constexpr size_t kNumberBytes = 18;

struct ExchangeRecord {
  uint8_t flags = 0;                 // presence flags of the optional fields
  uint8_t type = 0;                  // request or answer type
  int32_t unp = 0;                   // organisation UNP, flag 0x02
  uint16_t branch = 0;               // branch number, flag 0x04
  std::array<uint8_t, 20> iks{};     // key identifier, flag 0x08
  std::string name;                  // at most 255 bytes, flag 0x10
  NumberRecord number;               // document number, flag 0x20
  uint32_t expiry = 0;               // seconds since 1970, flag 0x40
  uint32_t payloadLength = 0;        // length as read from a frame
  std::vector<uint8_t> payload;      // the content
};

}  // namespace serverlink
