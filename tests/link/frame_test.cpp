// Frames of exchange records, document numbers and records from request
// fields, against frames written out byte by byte in tests/link/data/.
#include "link/frame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "core/text.h"
#include "platform/clock.h"
#include "test_support.h"

namespace {

std::vector<uint8_t> Fixture(const std::string& name) {
  std::vector<uint8_t> bytes = test_support::ReadBytes(std::string(LINK_TEST_DATA) + name);
  EXPECT_FALSE(bytes.empty()) << name;
  return bytes;
}

std::array<uint8_t, 20> CountingIks() {
  std::array<uint8_t, 20> iks{};
  for (size_t i = 0; i < iks.size(); ++i) iks[i] = static_cast<uint8_t>(i + 1);
  return iks;
}

// The record of frame_all_fields.bin.
serverlink::ExchangeRecord AllFieldsRecord() {
  serverlink::ExchangeRecord record;
  record.flags = 0x7E;
  record.type = 41;
  record.unp = 190000001;
  record.branch = 12;
  record.iks = CountingIks();
  record.name = "Branch office 7";
  record.number = serverlink::NumberRecord{190000001, 2, 2026, 1, 17};
  record.expiry = 0x66554433;
  record.payload = {0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x42};
  return record;
}

void ExpectSameNumber(const serverlink::NumberRecord& a, const serverlink::NumberRecord& b) {
  EXPECT_EQ(a.first, b.first);
  EXPECT_EQ(a.second, b.second);
  EXPECT_EQ(a.third, b.third);
  EXPECT_EQ(a.fourth, b.fourth);
  EXPECT_EQ(a.fifth, b.fifth);
}

// Parses from a heap block of exactly `size` bytes, so that the address
// sanitizer catches any read past the frame.
bool ParseExact(const std::vector<uint8_t>& frame, size_t size, serverlink::ExchangeRecord* record) {
  std::unique_ptr<uint8_t[]> exact(new uint8_t[size == 0 ? 1 : size]);
  if (size > 0) std::memcpy(exact.get(), frame.data(), size);
  return serverlink::ParseFrame(size == 0 ? nullptr : exact.get(), size, record);
}

TEST(FlagTexts, AreReadAsBase2Numbers) {
  EXPECT_EQ(serverlink::FlagBits(serverlink::kFlagUnp), 0x02);
  EXPECT_EQ(serverlink::FlagBits(serverlink::kFlagBranch), 0x04);
  EXPECT_EQ(serverlink::FlagBits(serverlink::kFlagIks), 0x08);
  EXPECT_EQ(serverlink::FlagBits(serverlink::kFlagName), 0x10);
  EXPECT_EQ(serverlink::FlagBits(serverlink::kFlagNumber), 0x20);
  EXPECT_EQ(serverlink::FlagBits(serverlink::kFlagExpiry), 0x40);
  EXPECT_EQ(serverlink::FlagBits("00101000"), 0x28);
  EXPECT_EQ(serverlink::FlagBits("00101001"), 0x29);
  EXPECT_EQ(serverlink::FlagBits("11111111"), 0xFF);
  // The parse ends at the first character that is not a binary digit.
  EXPECT_EQ(serverlink::FlagBits("101x1"), 0x05);
  EXPECT_EQ(serverlink::FlagBits(""), 0);
  EXPECT_TRUE(serverlink::HasFlag(0x28, serverlink::kFlagIks));
  EXPECT_TRUE(serverlink::HasFlag(0x28, serverlink::kFlagNumber));
  EXPECT_FALSE(serverlink::HasFlag(0x28, serverlink::kFlagUnp));
  EXPECT_FALSE(serverlink::HasFlag(0x81, serverlink::kFlagExpiry));
}

TEST(BuildFrame, IksNumberAndThreeBytePayloadIs47BytesPaddedTo48) {
  serverlink::ExchangeRecord record;
  record.flags = serverlink::FlagBits("00101000");
  record.type = 54;
  record.iks = CountingIks();
  record.number = serverlink::NumberRecord{123, 45, 6, 7, 8};
  record.payload = {'a', 'b', 'c'};
  std::vector<uint8_t> frame = serverlink::BuildFrame(record);
  EXPECT_EQ(frame, Fixture("frame_iks_number_payload3.bin"));
  ASSERT_EQ(frame.size(), 48u);
  EXPECT_EQ(frame[47], 0);  // the one byte of padding
}

TEST(BuildFrame, NoFieldsAndEmptyPayloadIs6BytesPaddedTo16) {
  serverlink::ExchangeRecord record;
  record.type = 3;
  EXPECT_EQ(serverlink::BuildFrame(record), Fixture("frame_no_fields_empty_payload.bin"));
}

TEST(BuildFrame, WritesEveryFieldInItsPlaceAndOrder) {
  EXPECT_EQ(serverlink::BuildFrame(AllFieldsRecord()), Fixture("frame_all_fields.bin"));
}

TEST(BuildFrame, CutsANameLongerThan255Bytes) {
  serverlink::ExchangeRecord record;
  record.flags = serverlink::FlagBits(serverlink::kFlagName);
  record.name.assign(300, 'n');
  std::vector<uint8_t> frame = serverlink::BuildFrame(record);
  EXPECT_EQ(frame[2], 255);
  serverlink::ExchangeRecord parsed;
  ASSERT_TRUE(serverlink::ParseFrame(frame.data(), frame.size(), &parsed));
  EXPECT_EQ(parsed.name, std::string(255, 'n'));
}

TEST(ParseFrame, ReadsEveryFieldOfACompleteFrame) {
  std::vector<uint8_t> frame = Fixture("frame_all_fields.bin");
  serverlink::ExchangeRecord parsed;
  ASSERT_TRUE(ParseExact(frame, frame.size(), &parsed));
  serverlink::ExchangeRecord expected = AllFieldsRecord();
  EXPECT_EQ(parsed.flags, expected.flags);
  EXPECT_EQ(parsed.type, expected.type);
  EXPECT_EQ(parsed.unp, expected.unp);
  EXPECT_EQ(parsed.branch, expected.branch);
  EXPECT_EQ(parsed.iks, expected.iks);
  EXPECT_EQ(parsed.name, expected.name);
  ExpectSameNumber(parsed.number, expected.number);
  EXPECT_EQ(parsed.expiry, expected.expiry);
  EXPECT_EQ(parsed.payloadLength, 6u);
  EXPECT_EQ(parsed.payload, expected.payload);
}

TEST(ParseFrame, EveryTruncationFailsWithoutReadingPastTheFrame) {
  for (const char* name : {"frame_all_fields.bin", "frame_iks_number_payload3.bin",
                           "frame_no_fields_empty_payload.bin"}) {
    std::vector<uint8_t> frame = Fixture(name);
    serverlink::ExchangeRecord whole;
    ASSERT_TRUE(serverlink::ParseFrame(frame.data(), frame.size(), &whole));
    size_t used = frame.size();  // shortest length that still parses
    while (used > 0) {
      serverlink::ExchangeRecord record;
      if (!ParseExact(frame, used - 1, &record)) break;
      --used;
    }
    for (size_t size = 0; size < used; ++size) {
      serverlink::ExchangeRecord record;
      EXPECT_FALSE(ParseExact(frame, size, &record)) << name << " cut to " << size;
      EXPECT_TRUE(record.payload.empty()) << name << " cut to " << size;
    }
    // Fields before the cut are kept: the all-fields frame cut inside its
    // number still has UNP, branch, IKS and name.
    if (std::string(name) == "frame_all_fields.bin") {
      serverlink::ExchangeRecord record;
      EXPECT_FALSE(ParseExact(frame, 50, &record));
      EXPECT_EQ(record.unp, 190000001);
      EXPECT_EQ(record.branch, 12);
      EXPECT_EQ(record.name, "Branch office 7");
      EXPECT_EQ(record.number.first, 0);
    }
  }
}

TEST(ParseFrame, PayloadLengthBeyondTheFrameLeavesThePayloadEmpty) {
  // 2 bytes, the length 0xFFFFFFF0, then 10 bytes: the length is kept, the
  // payload is not taken.
  std::vector<uint8_t> frame = {0x00, 41, 0xF0, 0xFF, 0xFF, 0xFF};
  frame.resize(16, 0x77);
  serverlink::ExchangeRecord record;
  EXPECT_FALSE(ParseExact(frame, frame.size(), &record));
  EXPECT_EQ(record.type, 41);
  EXPECT_EQ(record.payloadLength, 0xFFFFFFF0u);
  EXPECT_TRUE(record.payload.empty());

  // A length just one byte too long is refused as well; one that fits is
  // taken.
  frame[2] = 11;
  frame[3] = frame[4] = frame[5] = 0;
  EXPECT_FALSE(ParseExact(frame, frame.size(), &record));
  frame[2] = 10;
  EXPECT_TRUE(ParseExact(frame, frame.size(), &record));
  EXPECT_EQ(record.payload, std::vector<uint8_t>(10, 0x77));
}

TEST(ParseFrame, NameLongerThanTheRestIsNotTaken) {
  std::vector<uint8_t> frame = {0x10, 5, 200, 'a', 'b', 'c'};
  serverlink::ExchangeRecord record;
  EXPECT_FALSE(ParseExact(frame, frame.size(), &record));
  EXPECT_TRUE(record.name.empty());
}

TEST(Number, TextOfTheFiveIntegers) {
  EXPECT_EQ(serverlink::FormatNumber(serverlink::NumberRecord{123, 45, 6, 7, 8}),
            "000000123" "000000045" "0006" "7" "0008");
  std::optional<serverlink::NumberRecord> parsed = serverlink::ParseNumber("000000123000000045000670008");
  ASSERT_TRUE(parsed.has_value());
  ExpectSameNumber(*parsed, serverlink::NumberRecord{123, 45, 6, 7, 8});
  parsed = serverlink::ParseNumber("999999999999999999999999999");
  ASSERT_TRUE(parsed.has_value());
  ExpectSameNumber(*parsed, serverlink::NumberRecord{999999999, 999999999, 9999, 9, 9999});
  EXPECT_EQ(serverlink::FormatNumber(*parsed), "999999999999999999999999999");
}

TEST(Number, OnlyExactly27DecimalDigitsParse) {
  for (const char* bad : {"", "00000012300000004500067000", "0000001230000000450006700081",
                          "00000012300000004500067000x", "-00000123000000045000670008",
                          " 00000123000000045000670008", "+00000123000000045000670008",
                          "000000123 00000045000670008", "00000012300000004500067000\n"}) {
    EXPECT_FALSE(serverlink::ParseNumber(bad).has_value()) << '"' << bad << '"';
  }
}

TEST(Number, EighteenBytesLittleEndianThenFiveZeros) {
  uint8_t bytes[serverlink::kNumberBytes];
  std::memset(bytes, 0xEE, sizeof(bytes));
  serverlink::WriteNumber(serverlink::NumberRecord{0x01020304, -2, 0xA1B2, 0x7C, 0x0D0E}, bytes);
  const uint8_t expected[serverlink::kNumberBytes] = {0x04, 0x03, 0x02, 0x01, 0xFE, 0xFF, 0xFF, 0xFF, 0xB2,
                                                0xA1, 0x7C, 0x0E, 0x0D, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(bytes, expected, sizeof(bytes)), 0);
  serverlink::NumberRecord back = serverlink::ReadNumber(bytes);
  ExpectSameNumber(back, serverlink::NumberRecord{0x01020304, -2, 0xA1B2, 0x7C, 0x0D0E});
}

TEST(RecordFromRequestFields, IksTakesPrecedenceOverUnpAndBranch) {
  serverlink::RequestFields fields;
  fields.type = 52;
  fields.iks = "0102030405060708090a0B0C0D0E0F1011121314";
  fields.unp = "190000001";
  fields.branch = "12";
  fields.data = "PD94bWw=";
  serverlink::ExchangeRecord record;
  ASSERT_EQ(serverlink::RecordFromRequestFields(fields, &record), serverlink::RecordFromFieldsResult::Ok);
  EXPECT_EQ(record.flags, serverlink::FlagBits("00001000"));
  EXPECT_EQ(record.type, 52);
  EXPECT_EQ(record.iks, CountingIks());
  EXPECT_EQ(record.unp, 0);
  EXPECT_EQ(record.branch, 0);
  EXPECT_EQ(record.payload, std::vector<uint8_t>(fields.data.begin(), fields.data.end()));
}

TEST(RecordFromRequestFields, UnpBranchNumberAndExpiry) {
  serverlink::RequestFields fields;
  fields.type = 62;
  fields.unp = "190000001";
  fields.branch = "12x";  // read up to the first non-digit
  fields.number = "190000001000000002202610017";
  fields.expiryDays = "10";
  serverlink::ExchangeRecord record;
  int64_t before = platform::UnixNow();
  ASSERT_EQ(serverlink::RecordFromRequestFields(fields, &record), serverlink::RecordFromFieldsResult::Ok);
  int64_t after = platform::UnixNow();
  EXPECT_EQ(record.flags, serverlink::FlagBits("01100110"));
  EXPECT_EQ(record.unp, 190000001);
  EXPECT_EQ(record.branch, 12);
  ExpectSameNumber(record.number, serverlink::NumberRecord{190000001, 2, 2026, 1, 17});
  EXPECT_GE(static_cast<int64_t>(record.expiry), before + 10 * 86400);
  EXPECT_LE(static_cast<int64_t>(record.expiry), after + 10 * 86400);
  EXPECT_TRUE(record.payload.empty());
}

TEST(RecordFromRequestFields, TextThatIsNoNumberReadsAsZero) {
  serverlink::RequestFields fields;
  fields.unp = "abc";
  serverlink::ExchangeRecord record;
  ASSERT_EQ(serverlink::RecordFromRequestFields(fields, &record), serverlink::RecordFromFieldsResult::Ok);
  EXPECT_EQ(record.flags, serverlink::FlagBits(serverlink::kFlagUnp));
  EXPECT_EQ(record.unp, 0);
}

TEST(RecordFromRequestFields, Type44CarriesOneByteOfTheDecimalText) {
  serverlink::RequestFields fields;
  fields.type = serverlink::kTypeOneBytePayload;
  fields.data = "201";
  serverlink::ExchangeRecord record;
  ASSERT_EQ(serverlink::RecordFromRequestFields(fields, &record), serverlink::RecordFromFieldsResult::Ok);
  EXPECT_EQ(record.payload, std::vector<uint8_t>{201});
  EXPECT_EQ(record.payloadLength, 1u);
}

TEST(RecordFromRequestFields, RefusesKeyIdentifiersAndNumbersOfTheWrongForm) {
  serverlink::ExchangeRecord record;
  for (const char* iks : {"0102030405060708090A0B0C0D0E0F101112131",     // 39 digits
                          "0102030405060708090A0B0C0D0E0F10111213141",   // 41 digits
                          "0102030405060708090A0B0C0D0E0F101112131G"}) {  // not hex
    serverlink::RequestFields fields;
    fields.iks = iks;
    record.type = 99;
    EXPECT_EQ(serverlink::RecordFromRequestFields(fields, &record), serverlink::RecordFromFieldsResult::BadIks) << iks;
    EXPECT_EQ(record.type, 0);  // left cleared
  }
  serverlink::RequestFields fields;
  fields.number = "19000000100000000220261001";  // 26 digits
  EXPECT_EQ(serverlink::RecordFromRequestFields(fields, &record), serverlink::RecordFromFieldsResult::BadNumber);
  fields.number = "1900000010000000022026100x7";
  EXPECT_EQ(serverlink::RecordFromRequestFields(fields, &record), serverlink::RecordFromFieldsResult::BadNumber);
  EXPECT_EQ(record.flags, 0);
}

}  // namespace
