// SendMessageToServer: one request to the exchange server over a new TCP
// connection (directly or through the proxy of the settings) and its
// answer. Called by the request/answer routine and the session start of the
// exchange subsystem, from any thread; each call has its own socket,
// buffers and key. The wire format is described in docs/transport.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "crypto/data_block.h"
#include "link/envelope.h"

namespace serverlink {

// Results of SendMessageToServer besides the answer length.
constexpr int kSendClosedEmpty = 0;     // nothing received
constexpr int kSendFailed = -1;         // connection, proxy, send or receive failure
constexpr int kSendKeyFailed = -2;      // the outer key could not be made
constexpr int kSendBadLength = -100;    // request length 0 or not a multiple of 16

// Limits of one call. The largest legitimate answer is a program download
// of a few megabytes; a peer that sends more is cut off.
struct TransportLimits {
  int connectTimeoutMs;    // to establish the TCP connection
  int receiveTimeoutMs;    // silence of the peer that ends a call
  size_t maxAnswerBytes;   // answers (and streams) longer than this fail
};

constexpr TransportLimits kDefaultTransportLimits{
    60 * 1000,   // one minute to connect
    120 * 1000,  // two minutes of silence
    32u << 20,   // 32 MiB
};

// Process-wide limits of every later call (tests shorten them).
void SetTransportLimits(const TransportLimits& limits);
TransportLimits GetTransportLimits();

// Seconds added to the request time T of every later call (0 normally).
// A diagnostic: tsr-tool doctor finds how far the server's clock is from
// ours by the shifted times the server takes.
void SetRequestTimeShift(int64_t seconds);

// The server's host and port: the build's values (TESSARIN_SERVER_HOST,
// TESSARIN_SERVER_PORT), or the environment variable TESSARIN_SERVER in the
// form host:port, a diagnostic facility read at every call.
struct ServerEndpoint {
  std::string host;  // host name or dotted address
  std::string port;  // port text
};
ServerEndpoint ServerAddress();

// Sends the request (its length a nonzero multiple of 16), preceded by the
// 64-byte prefix when one is given, and fills *answer.
//
// The body (prefix + request) is enciphered with the outer key of the
// current time T and sent behind the 9-byte header in one piece; the
// connection is read until the server closes it. An answer starting with
// 0xFF or 0xAE is returned as received; any other has bytes 1-4 replaced by
// T and its bytes from offset 9 deciphered with the outer key (a trailing
// part of less than 16 bytes is dropped and logged).
//
// Returns the answer length (> 0); 0 when nothing was received (the server
// closed, or the receive failed or timed out before the first byte); -1 on
// a connection, proxy or send failure, a receive failure or silence after a
// part of the answer, an answer shorter than 9 bytes or longer than the
// size limit; -2 when the outer key could not be made; -100 for a bad
// request length (nothing is sent). Logs "SMTS" and "SMTS - end";
// exceptions are logged under "SendMessageToServer" and give -1.
int SendMessageToServer(uint8_t operation, const std::vector<uint8_t>& request,
                        std::vector<uint8_t>* answer, const uint8_t* prefix = nullptr);

// The same with the blocks of the cryptographic operations; the answer
// block receives the answer's bytes (and is emptied when there is none).
int SendMessageToServer(uint8_t operation, const crypto::DataBlock& request,
                        crypto::DataBlock* answer, const uint8_t* prefix = nullptr);

}  // namespace serverlink
