// The server's check of what an organisation sends, so that the simulator
// catches client faults instead of passing them on: documents, replies and
// confirmations must be CMS envelopes; when the simulator holds the
// recipient's key (an organisation of the test PKI) it opens the envelope,
// expands a compressed content and verifies every signature; a refusal
// must carry its code; a certificate request must carry a public key.
// Called by the routing of documents (routing.cpp).
#pragma once

#include <string>

#include "link/exchange_record.h"

namespace aissim {

struct ContentCheck {
  bool ok = true;      // acceptable; otherwise the request is refused with code 11
  bool opened = false; // the envelope was opened and its signatures verified
  std::string reason;  // why not, for the traffic log
};

// Checks the payload of a record of a routed type for the recipient
// (key identifier in hex).
ContentCheck CheckContent(const serverlink::ExchangeRecord& record, const std::string& recipientIks);

}  // namespace aissim
