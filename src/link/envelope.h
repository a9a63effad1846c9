// The transport envelope of a request: the 9-byte header and the outer key
// derived from the request time and the service's transport constant.
//
// The transport (transport.cpp) wraps every request in it; the server
// simulator and the tests unwrap requests with the same functions. The wire
// format is described in docs/transport.md.
#pragma once

#include <cstddef>
#include <cstdint>

namespace serverlink {

constexpr size_t kHeaderBytes = 9;     // request header
constexpr size_t kPrefixBytes = 64;    // session identifier before a request
constexpr size_t kOuterKeyBytes = 64;  // key buffer; its first 32 bytes key Xtea128

// Operation bytes of the requests.
constexpr uint8_t kOperationSessionStart = 0xB1;  // body: the session-start block, no prefix
constexpr uint8_t kOperationInSession = 0xAC;     // body: session identifier + request

// First bytes of the server's answers.
constexpr uint8_t kAnswerRecord = 0xAD;    // 173: header + enciphered answer frame
constexpr uint8_t kAnswerAccepted = 0xAE;  // 174: plain, returned as received
constexpr uint8_t kAnswerRefused = 0xFF;   // 255: plain, returned as received

struct RequestHeader {
  uint8_t operation = 0;  // operation byte
  uint32_t length = 0;    // body length L (prefix included)
  uint32_t time = 0;      // request time T, low 32 bits of the Unix time
};

// Byte order of the header: operation, L3, T1, L2, T0, T2, L1, L0, T3
// (L0 and T0 the least significant bytes).
void WriteRequestHeader(const RequestHeader& header, uint8_t out[kHeaderBytes]);
RequestHeader ReadRequestHeader(const uint8_t bytes[kHeaderBytes]);

// The outer key of time T: SHA-512 of five groups (T little-endian, the
// 8-byte transport constant) followed by T once more. The constant is put
// together from its two halves in a store of this call only and cleared as
// soon as the block is built. False when the digest could not be made.
bool MakeOuterKey(uint32_t time, uint8_t key[kOuterKeyBytes]);

// Overwrites a buffer so that the compiler cannot drop the writes.
void WipeBytes(void* data, size_t size);

}  // namespace serverlink
