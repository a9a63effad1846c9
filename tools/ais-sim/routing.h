// Routing between organisations: documents (52, 62 and their compressed
// and confirmation-wanted forms 53, 63, 152, 153, 162, 163), co-signed
// replies (53), refusals (56), delivery confirmations (54, 154),
// certificate requests and answers (73, 74). Each accepted message goes to
// the recipient's mailbox with a fresh idm and the sender's УНП, branch,
// key identifier, name, the document number and expiry. Replies go back
// to the organisation that sent the original, found by its number. The
// server makes the status messages "delivered" (55), when a recipient
// deletes a document it has stored, and "expired" (58), when a document's
// expiry passes while it waits. Called by requests.cpp and the admin API.
#pragma once

#include <cstdint>
#include <string>

#include "handler.h"
#include "link/exchange_record.h"
#include "state.h"

namespace aissim {

// Types that carry a document to another organisation.
bool IsRoutedType(int type);

// Routes a request of a routed type from `sender`: the answer record (174
// accepted, or 255 with the code 5, 9, 10 or 11).
serverlink::ExchangeRecord RouteMessage(const Organisation& sender, const serverlink::ExchangeRecord& request,
                                        Exchange* exchange);

// Puts a message into the recipient's mailbox as coming from `sender`
// (fields of the sender filled in); the new idm, or 0 on failure.
int64_t Deliver(const Organisation& sender, const Organisation& recipient, serverlink::ExchangeRecord record,
                int64_t original);

// The recipient deleted a stored message: it leaves the mailbox, and the
// sender of a document gets "delivered".
void MarkDeleted(const StoredMessage& message, int64_t now);

// Waiting messages whose expiry passed leave their mailboxes; the senders
// of documents get "expired". Returns how many expired.
int SweepExpired(int64_t now);

}  // namespace aissim
