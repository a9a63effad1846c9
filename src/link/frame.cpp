// Frames of exchange records, document numbers and records from request
// fields (see frame.h and docs/frame-format.md).
#include "link/frame.h"

#include <cstdlib>
#include <cstring>

#include "core/format.h"
#include "core/log.h"
#include "core/text.h"
#include "platform/clock.h"

namespace serverlink {

namespace {

void PutLe(std::vector<uint8_t>* out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint32_t GetLe(const uint8_t* bytes, int count) {
  uint32_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = (value << 8) | bytes[i];
  return value;
}

// Reads the frame front to back; every read is checked against the end.
struct Reader {
  const uint8_t* data;  // the frame
  size_t size;          // its length
  size_t offset;        // next byte to read

  bool Fits(size_t count) const { return count <= size - offset; }
  const uint8_t* Take(size_t count) {
    const uint8_t* at = data + offset;
    offset += count;
    return at;
  }
};

// A decimal text read the way the request files are read: leading blanks
// and a sign allowed, up to the first non-digit, no number gives 0.
long long DecimalValue(const std::string& text) {
  return std::strtoll(text.c_str(), nullptr, 10);
}

bool AllDigits(const std::string& text) {
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

std::vector<uint8_t> BuildFrame(const ExchangeRecord& record) {
  std::vector<uint8_t> frame;
  frame.reserve(kFrameMinimum + 4 + 2 + 20 + 256 + kNumberBytes + 4 + record.payload.size() + kFrameBlock);
  frame.push_back(record.flags);
  frame.push_back(record.type);
  if (HasFlag(record.flags, kFlagUnp)) PutLe(&frame, static_cast<uint32_t>(record.unp), 4);
  if (HasFlag(record.flags, kFlagBranch)) PutLe(&frame, record.branch, 2);
  if (HasFlag(record.flags, kFlagIks)) frame.insert(frame.end(), record.iks.begin(), record.iks.end());
  if (HasFlag(record.flags, kFlagName)) {
    size_t length = record.name.size() > 255 ? 255 : record.name.size();
    frame.push_back(static_cast<uint8_t>(length));
    frame.insert(frame.end(), record.name.begin(), record.name.begin() + static_cast<ptrdiff_t>(length));
  }
  if (HasFlag(record.flags, kFlagNumber)) {
    uint8_t number[kNumberBytes];
    WriteNumber(record.number, number);
    frame.insert(frame.end(), number, number + kNumberBytes);
  }
  if (HasFlag(record.flags, kFlagExpiry)) PutLe(&frame, record.expiry, 4);
  PutLe(&frame, record.payload.size(), 4);
  frame.insert(frame.end(), record.payload.begin(), record.payload.end());
  size_t padded = (frame.size() + kFrameBlock - 1) / kFrameBlock * kFrameBlock;
  frame.resize(padded, 0);
  return frame;
}

bool ParseFrame(const uint8_t* data, size_t size, ExchangeRecord* record, uint8_t* fieldsRead) {
  *record = ExchangeRecord{};
  uint8_t unused = 0;
  uint8_t& read = fieldsRead != nullptr ? *fieldsRead : unused;
  read = 0;
  if (data == nullptr) size = 0;
  Reader in{data, size, 0};
  if (!in.Fits(2)) {
    if (in.Fits(1)) record->flags = *in.Take(1);
    return false;
  }
  record->flags = *in.Take(1);
  record->type = *in.Take(1);
  const uint8_t flags = record->flags;
  if (HasFlag(flags, kFlagUnp)) {
    if (!in.Fits(4)) return false;
    record->unp = static_cast<int32_t>(GetLe(in.Take(4), 4));
    read |= FlagBits(kFlagUnp);
  }
  if (HasFlag(flags, kFlagBranch)) {
    if (!in.Fits(2)) return false;
    record->branch = static_cast<uint16_t>(GetLe(in.Take(2), 2));
    read |= FlagBits(kFlagBranch);
  }
  if (HasFlag(flags, kFlagIks)) {
    if (!in.Fits(20)) return false;
    std::memcpy(record->iks.data(), in.Take(20), 20);
    read |= FlagBits(kFlagIks);
  }
  if (HasFlag(flags, kFlagName)) {
    if (!in.Fits(1)) return false;
    size_t length = *in.Take(1);
    if (!in.Fits(length)) return false;
    const uint8_t* name = in.Take(length);
    record->name.assign(reinterpret_cast<const char*>(name), length);
    read |= FlagBits(kFlagName);
  }
  if (HasFlag(flags, kFlagNumber)) {
    if (!in.Fits(kNumberBytes)) return false;
    record->number = ReadNumber(in.Take(kNumberBytes));
    read |= FlagBits(kFlagNumber);
  }
  if (HasFlag(flags, kFlagExpiry)) {
    if (!in.Fits(4)) return false;
    record->expiry = GetLe(in.Take(4), 4);
    read |= FlagBits(kFlagExpiry);
  }
  if (!in.Fits(4)) return false;
  record->payloadLength = GetLe(in.Take(4), 4);
  if (!in.Fits(record->payloadLength)) return false;
  const uint8_t* payload = in.Take(record->payloadLength);
  record->payload.assign(payload, payload + record->payloadLength);
  return true;
}

void WriteNumber(const NumberRecord& number, uint8_t out[kNumberBytes]) {
  std::vector<uint8_t> bytes;
  bytes.reserve(kNumberBytes);
  PutLe(&bytes, static_cast<uint32_t>(number.first), 4);
  PutLe(&bytes, static_cast<uint32_t>(number.second), 4);
  PutLe(&bytes, number.third, 2);
  PutLe(&bytes, number.fourth, 1);
  PutLe(&bytes, number.fifth, 2);
  bytes.resize(kNumberBytes, 0);
  std::memcpy(out, bytes.data(), kNumberBytes);
}

NumberRecord ReadNumber(const uint8_t bytes[13]) {
  NumberRecord number;
  number.first = static_cast<int32_t>(GetLe(bytes, 4));
  number.second = static_cast<int32_t>(GetLe(bytes + 4, 4));
  number.third = static_cast<uint16_t>(GetLe(bytes + 8, 2));
  number.fourth = bytes[10];
  number.fifth = static_cast<uint16_t>(GetLe(bytes + 11, 2));
  return number;
}

std::string FormatNumber(const NumberRecord& number) {
  return core::Format("%09d%09d%04d%01d%04d", number.first, number.second,
                      static_cast<int>(number.third), static_cast<int>(number.fourth),
                      static_cast<int>(number.fifth));
}

std::optional<NumberRecord> ParseNumber(const std::string& text) {
  if (text.size() != 27 || !AllDigits(text)) return std::nullopt;
  auto piece = [&text](size_t from, size_t count) {
    return std::strtol(text.substr(from, count).c_str(), nullptr, 10);
  };
  NumberRecord number;
  number.first = static_cast<int32_t>(piece(0, 9));
  number.second = static_cast<int32_t>(piece(9, 9));
  number.third = static_cast<uint16_t>(piece(18, 4));
  number.fourth = static_cast<uint8_t>(piece(22, 1));
  number.fifth = static_cast<uint16_t>(piece(23, 4));
  return number;
}

RecordFromFieldsResult RecordFromRequestFields(const RequestFields& fields, ExchangeRecord* record) {
  *record = ExchangeRecord{};
  ExchangeRecord built;
  built.type = fields.type;
  if (!fields.iks.empty()) {
    if (!core::IsHexText(fields.iks, 40)) {
      core::LogError("Неправильный идентификатор ключа в сообщении", 0);
      return RecordFromFieldsResult::BadIks;
    }
    std::vector<uint8_t> iks = core::HexDecode(fields.iks);
    std::memcpy(built.iks.data(), iks.data(), built.iks.size());
    built.flags |= FlagBits(kFlagIks);
  } else {
    if (!fields.unp.empty()) {
      built.flags |= FlagBits(kFlagUnp);
      built.unp = static_cast<int32_t>(DecimalValue(fields.unp));
    }
    if (!fields.branch.empty()) {
      built.flags |= FlagBits(kFlagBranch);
      built.branch = static_cast<uint16_t>(DecimalValue(fields.branch));
    }
  }
  if (!fields.number.empty()) {
    std::optional<NumberRecord> number = ParseNumber(fields.number);
    if (!number) {
      core::LogError("Неправильный номер в сообщении", 0);
      return RecordFromFieldsResult::BadNumber;
    }
    built.flags |= FlagBits(kFlagNumber);
    built.number = *number;
  }
  if (!fields.expiryDays.empty()) {
    built.flags |= FlagBits(kFlagExpiry);
    built.expiry = static_cast<uint32_t>(platform::UnixNow() + DecimalValue(fields.expiryDays) * 86400);
  }
  if (fields.type == kTypeOneBytePayload) {
    built.payload.push_back(static_cast<uint8_t>(DecimalValue(std::string(fields.data))));
  } else {
    built.payload.resize(fields.data.size());
    if (!fields.data.empty()) std::memcpy(built.payload.data(), fields.data.data(), fields.data.size());
  }
  built.payloadLength = static_cast<uint32_t>(built.payload.size());
  *record = std::move(built);
  return RecordFromFieldsResult::Ok;
}

}  // namespace serverlink
