// The binary frame of an ExchangeRecord, the 27-digit document number, and
// the record built from the text fields of an exchange-folder request.
//
// Used by the request/answer routine (frames going to and coming from the
// server), the exchange-folder handlers (records from request files), the
// document view (numbers of stored messages) and tsr-tool. The layout is
// described in docs/frame-format.md. Everything here is re-entrant.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/exchange_record.h"

namespace serverlink {

// Reads a presence-flag text such as "00101000" as a base-2 number, up to
// the first character that is not 0 or 1. The program writes and tests its
// flags through these texts.
constexpr uint8_t FlagBits(const char* text) {
  unsigned value = 0;
  for (; *text == '0' || *text == '1'; ++text) value = (value << 1) | static_cast<unsigned>(*text - '0');
  return static_cast<uint8_t>(value);
}

// The flag texts of the optional fields, in the order the fields follow in
// a frame. The bits 0x01 and 0x80 carry no field.
inline constexpr char kFlagUnp[] = "00000010";     // 4-byte UNP
inline constexpr char kFlagBranch[] = "00000100";  // 2-byte branch
inline constexpr char kFlagIks[] = "00001000";     // 20-byte key identifier
inline constexpr char kFlagName[] = "00010000";    // length byte + name
inline constexpr char kFlagNumber[] = "00100000";  // 18-byte NumberRecord
inline constexpr char kFlagExpiry[] = "01000000";  // 4-byte expiry

// True when the record's flags hold the flag of that text.
constexpr bool HasFlag(uint8_t flags, const char* flagText) {
  return (flags & FlagBits(flagText)) != 0;
}

// Frames are padded with zero bytes to a multiple of this.
constexpr size_t kFrameBlock = 16;

// Fixed part of every frame: flags, type and the 4-byte payload length.
constexpr size_t kFrameMinimum = 6;

// The frame of a record: flags, type, the optional fields the flags name
// (UNP, branch, IKS, name, number, expiry, in that order), the payload
// length and payload, zero bytes up to a multiple of 16. All integers are
// little-endian. A name longer than 255 bytes is cut to 255.
std::vector<uint8_t> BuildFrame(const ExchangeRecord& record);

// Reads a frame into *record (cleared first). A field is taken only when it
// lies wholly inside the `size` bytes; the payload is copied only when all
// of it does, otherwise it stays empty while payloadLength keeps the value
// read. Never reads outside the bytes given. True when every field the
// flags name and the whole payload were there; false for a truncated frame,
// whose record holds what could be read. *fieldsRead (when given) receives
// the flag bits of the optional fields that were read.
bool ParseFrame(const uint8_t* data, size_t size, ExchangeRecord* record,
                uint8_t* fieldsRead = nullptr);

// The 18 bytes of a number: five little-endian integers (13 bytes), then
// 5 zero bytes.
void WriteNumber(const NumberRecord& number, uint8_t out[kNumberBytes]);

// A number from its first 13 bytes.
NumberRecord ReadNumber(const uint8_t bytes[13]);

// The 27-digit text "%09d%09d%04d%01d%04d".
std::string FormatNumber(const NumberRecord& number);

// A number from exactly 27 decimal digits: digits 1-9, 10-18, 19-22, 23 and
// 24-27. Nothing for any other text.
std::optional<NumberRecord> ParseNumber(const std::string& text);

// Text fields of an exchange-folder request that go into a record.
struct RequestFields {
  uint8_t type = 0;        // request type code
  std::string iks;         // receiver key identifier, 40 hex digits, or empty
  std::string unp;         // receiver UNP, decimal, or empty
  std::string branch;      // receiver branch, decimal, or empty
  std::string number;      // document number, 27 digits, or empty
  std::string expiryDays;  // validity in days, decimal, or empty
  std::string_view data;   // the request's data text, kept by the caller
};

enum class RecordFromFieldsResult {
  Ok,
  BadIks,     // the key identifier is not exactly 40 hexadecimal digits
  BadNumber,  // the number is not exactly 27 decimal digits
};

// Type whose payload is one byte, the decimal value of the data text.
constexpr uint8_t kTypeOneBytePayload = 44;

// Builds the record of a request: a 40-digit IKS sets the key identifier;
// only without one, a UNP and a branch text set theirs; a number text sets
// the number; an expiry of d days sets now + d * 86400. The payload is the
// data text's bytes (for type 44 one byte, its decimal value). Decimal
// texts are read up to their first non-digit (no number reads as 0). A bad
// number is logged as "Неправильный номер в сообщении", a bad key
// identifier as "Неправильный идентификатор ключа в сообщении". On failure
// the record is left cleared.
RecordFromFieldsResult RecordFromRequestFields(const RequestFields& fields, ExchangeRecord* record);

}  // namespace serverlink
