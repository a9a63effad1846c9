// Replies to received messages: a document co-signed and sent back to its
// sender, the certificate answer to a certificate request, or a refusal
// with a refusal code.
//
// The reply is prepared completely and saved in the row (status 1) before
// it is sent, so that a reply whose answer was lost is sent again byte for
// byte by the next list load; the server's code 10 for such a resend counts
// as delivered. Called by the message dialog and the window, the web
// interface, and the list load (resends). An operation names the row by its
// position in the message list, resolved once to the row's id when it
// begins; two operations on the same row never run at once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "storage/messages.h"

namespace exchange {

// Reply types.
constexpr uint8_t kTypeCoSigned = 53;            // the document with both signatures
constexpr uint8_t kTypeCoSignedCompressed = 153; // the same, compressed
constexpr uint8_t kTypeCertificateAnswer = 74;   // the certificate with the requisites
constexpr uint8_t kTypeRefusal = 56;             // one refusal code

// The plain data of a certificate answer, before it is encrypted for the
// asker: the certificate's length (4 bytes, little-endian), the DER
// certificate, then each requisite (in whose person, on what authority,
// position, name) as a 2-byte little-endian byte count and its bytes; a
// requisite longer than 65535 bytes is cut there. The exchange folder's
// "thecertificate" builds the same data from its request.
std::vector<uint8_t> CertificateAnswerData(const std::vector<uint8_t>& certificate,
                                          const std::vector<std::string>& requisites);

// Signs (refusalCode 0) or refuses (refusalCode 111..199) the message at
// the position: prepares the reply, saves it (a fresh signature) with
// MarkSending, sends it, and records an accepted reply with MarkDelivered.
// A reply that cannot be saved is not sent. With reload, the list is
// loaded again when the row's status changed. Returns every status line
// shown, each followed by "<BR>". Logs "CSASM" / "CSASM - end".
std::wstring ClientSingAndSendMessage(int position, bool reload, uint8_t refusalCode);

// The same for an entry already resolved (its id decides the row; its row
// is only where the list shows it).
std::wstring AnswerMessage(const storage::MessageEntry& entry, bool reload, uint8_t refusalCode);

// The web page's signature or refusal of the row `id`: holds the row as
// AnswerMessage does, then reads it again and answers it (reloading the
// list on a change) only while it is still unanswered: status 0, or 1
// with its reply saved. A signed row shows "Сообщение уже подписано !!!", a
// refused one "Документ уже отклонен", a row that is gone nothing; none of
// them sends anything. Returns the lines shown, and the row's status when
// the operation ended in *status (-1 when the row is gone).
std::wstring AnswerUnansweredMessage(const storage::MessageEntry& entry, uint8_t refusalCode, int32_t* status);

// The rows whose saved reply waits for the server (status 1): replaced by a
// whole list load, kept current by every reply.
void RememberSendingRows(const std::vector<storage::MessageEntry>& entries);
std::vector<storage::MessageEntry> SendingRows();

// Sends again the saved reply of every row in status 1, unless another
// operation is answering that row right now. Called by the list loads.
void ResendSavedReplies();

// Tests: forget the rows in status 1.
void ResetReplyStateForTest();

}  // namespace exchange
