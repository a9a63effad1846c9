// Delivery confirmations: a signed HTML page that names the receiving
// organisation and the document number, carries the whole signature report
// of the received document and its message digest, and goes to the
// document's sender encrypted for the sender alone.
//
// Made by intake for a document whose sender asked for one (type 62) and
// by the answer writer of the exchange folder. A document whose
// confirmation cannot be sent is neither stored nor deleted by its caller,
// so it is fetched again.
#pragma once

#include <cstdint>
#include <string>

#include "link/exchange_record.h"

namespace exchange {

constexpr uint8_t kTypeConfirmation = 54;            // the confirmation; 154 compressed
constexpr uint8_t kTypeConfirmationCompressed = 154;

// The confirmation page for the organisation `subjectName` of the
// received document with the number (27 digits; empty when the record
// carries none), its verification report and its message digest in
// upper-case hexadecimal. Wide text; it goes out as UTF-8.
std::wstring DeliveryConfirmationText(const std::wstring& subjectName, const std::string& numberText,
                                      const std::wstring& report, const std::string& digestHex);

// Makes and sends the confirmation of the received document: `received`
// carries the signed document as its payload, its number (flag 0x20) and
// the sender's key identifier. True when the server took it. Logs
// "MakeDeliveryConfirmation-Begin" / "MakeDeliveryConfirmation-End".
bool MakeDeliveryConfirmation(const serverlink::ExchangeRecord& received, const std::wstring& report);

// Signs the confirmation text (UTF-8) with the selected certificate,
// compresses it above 1000 bytes (type 154 instead of 54), encrypts it for
// the certificate of the received document's sender and sends it with the
// document's number and the sender's key identifier (flags 0x28). True when
// the server accepted it or already holds it (code 10). Nothing is sent
// while no service status has been received. Logs "PSConfim" / "PSConfim -
// end".
bool PSConfim(const serverlink::ExchangeRecord& received, const std::string& textUtf8);

}  // namespace exchange
