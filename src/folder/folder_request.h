// One request file of the exchange folder as the reader found it, and the
// list of one folder pass.
//
// Filled by GetXMLTypes (request_file.h); read by the folder pass, its
// dispatcher and the request handlers, which convert a request into a wire
// record with RecordFromRequest (request_record.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace folder {

// At most this many recipients are read from one request.
constexpr size_t kRecipientSlotsMax = 251;

// At most this many request files are taken in one pass of the folder;
// the rest wait for the next pass. FolderRequestList never holds more.
constexpr size_t kRequestsPerPass = 4901;

// One recipient of a signed document.
struct RecipientSlot {
  std::string certificate;  // `cpk`: Base64 of the recipient's certificate
  std::string publicKey;    // `add`: Base64 of a public key that replaces the certificate's, or empty
};

// Bits of FolderRequest::faults: what the reader found wrong. A request
// with a fault is answered with the conversion error and never acted on.
constexpr uint8_t kFaultUnreadable = 0x01;      // the file could not be opened or read whole
constexpr uint8_t kFaultSenderIks = 0x02;       // `senderiks` is not 40 hexadecimal digits
constexpr uint8_t kFaultReceiverIks = 0x04;     // `receiveriks` is not 40 hexadecimal digits
constexpr uint8_t kFaultNumber = 0x08;          // `number` is not 27 decimal digits

// The text fields after path are bytes of the file (UTF-8 by agreement),
// empty when the element is absent.
struct FolderRequest {
  std::string fileName;         // name as the folder listing gave it (UTF-8)
  std::string path;             // full path of the file in the working folder
  int type = 0;                 // type code; 0 when the name is not a request type
  std::string reserved;         // no reader fills it; always empty
  std::string senderIks;        // `senderiks`, upper case
  std::string receiverIks;      // `receiveriks`, upper case
  std::string receiverUnp;      // `receiverunp`
  std::string receiverBranch;   // `receivervranch` (the tag is spelled so)
  std::string message;          // `message`
  std::string number;           // `number`
  std::string expire;           // `expire`: validity in days
  std::vector<RecipientSlot> recipients;  // `receivercpks`, at most kRecipientSlotsMax; its
                                          // size is the number of filled slots
  uint8_t rejectionCode = 0;    // `rejectioncode`, its decimal value cut to a byte
  std::string text;             // the whole file text, tag names lowered
  bool confirmDelivery = false; // `confirmdelivery` contains "yes"
  uint8_t faults = 0;           // kFault* bits; 0 for a sound request
};

// The requests of one pass, in the order the folder listing gave the files.
using FolderRequestList = std::vector<FolderRequest>;

}  // namespace folder
