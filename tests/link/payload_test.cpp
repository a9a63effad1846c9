// Payload rules of exchange records: compressed above 1000 bytes with the
// type raised by 100; expanded only above type 100 and 100 bytes; a short
// expansion logged and kept.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/log.h"
#include "link/lzari.h"
#include "link/payload.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Document(size_t size) {
  std::string text;
  // Numbers that do not repeat soon, so that 1001 bytes still take more
  // than 100 once compressed.
  for (int i = 0; text.size() < size; ++i) {
    text += "Пункт " + std::to_string(i * 7919 % 100003) + " договора. ";
  }
  text.resize(size);
  return Bytes(text.begin(), text.end());
}

serverlink::ExchangeRecord Record(uint8_t type, Bytes payload) {
  serverlink::ExchangeRecord record;
  record.type = type;
  record.payloadLength = static_cast<uint32_t>(payload.size());
  record.payload = std::move(payload);
  return record;
}

TEST(Payload, CompressedOnlyAboveAThousandBytes) {
  serverlink::ExchangeRecord small = Record(53, Document(1000));
  EXPECT_FALSE(serverlink::CompressRecordPayload(&small));
  EXPECT_EQ(small.type, 53);
  EXPECT_EQ(small.payload, Document(1000));

  serverlink::ExchangeRecord large = Record(53, Document(1001));
  EXPECT_TRUE(serverlink::CompressRecordPayload(&large));
  EXPECT_EQ(large.type, 153);
  EXPECT_EQ(large.payload, serverlink::LzariCompress(Document(1001).data(), 1001));
  EXPECT_EQ(large.payload, serverlink::CompressPayload(Document(1001).data(), 1001));
  EXPECT_EQ(large.payloadLength, large.payload.size());
  ASSERT_GT(large.payload.size(), 100u);  // else the receiver would not expand it

  EXPECT_TRUE(serverlink::ExpandPayload(&large));
  EXPECT_EQ(large.type, 53);
  EXPECT_EQ(large.payload, Document(1001));
  EXPECT_EQ(large.payloadLength, 1001u);
}

TEST(Payload, ExpandedOnlyAboveTypeAndLengthHundred) {
  // Type 153 but exactly 100 bytes: left as it is.
  Bytes hundred = serverlink::LzariCompress(Document(400).data(), 400);
  hundred.resize(100);
  serverlink::ExchangeRecord record = Record(153, hundred);
  EXPECT_TRUE(serverlink::ExpandPayload(&record));
  EXPECT_EQ(record.type, 153);
  EXPECT_EQ(record.payload, hundred);

  // Type 100 is not a compressed type, whatever the payload.
  Bytes packed = serverlink::LzariCompress(Document(5000).data(), 5000);
  ASSERT_GT(packed.size(), 100u);
  serverlink::ExchangeRecord plain = Record(100, packed);
  EXPECT_TRUE(serverlink::ExpandPayload(&plain));
  EXPECT_EQ(plain.type, 100);
  EXPECT_EQ(plain.payload, packed);

  serverlink::ExchangeRecord marked = Record(101, packed);
  EXPECT_TRUE(serverlink::ExpandPayload(&marked));
  EXPECT_EQ(marked.type, 1);
  EXPECT_EQ(marked.payload, Document(5000));
}

TEST(Payload, ShortExpansionIsLoggedAndKept) {
  test_support::ScopedLogFolder logs;
  Bytes packed = serverlink::LzariCompress(Document(3000).data(), 3000);
  packed[0] = 0x70;  // declares 0x1B70 = 7024 bytes; holds 3000
  packed[1] = 0x1B;
  serverlink::ExchangeRecord record = Record(141, packed);
  EXPECT_FALSE(serverlink::ExpandPayload(&record));
  EXPECT_EQ(record.type, 41);
  ASSERT_GE(record.payload.size(), 3000u);
  ASSERT_LT(record.payload.size(), 7024u);
  EXPECT_EQ(Bytes(record.payload.begin(), record.payload.begin() + 3000), Document(3000));

  std::string errors = test_support::ReadText(core::LastLogFile());
  std::string expected = "Error = dwPointerOut = (*dwSizeOut - 1). Count " +
                         std::to_string(record.payload.size()) + " = ";
  EXPECT_NE(errors.find(expected), std::string::npos) << errors;
  EXPECT_NE(core::LastLogFile().find("Error"), std::string::npos);
}

}  // namespace
