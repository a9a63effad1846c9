// How a request of the sending handlers ends: its answer is saved before
// its file is deleted, a refusal always leaves an error answer, and a
// request the server has accepted is never sent again.
//
// Called by the sending handlers (sign_and_send.cpp, refusal_request.cpp,
// certificate_requests.cpp) on the folder pass thread.
//
// When the server accepted a request but its answer could not be saved,
// the answer's text is kept beside the request in the working folder, in
// the file request path + kAcceptedSuffix (the folder pass takes only
// "*.xml", so it never reads it as a request). The next pass that hands
// the request to its handler finds the kept answer, saves it and deletes
// both files without talking to the server. A kept answer whose `number`
// is not the request's was left by an earlier request of the same file
// name and is deleted.
//
// A signed document is sent only after what goes out has been kept beside
// the request, in request path + kSendingSuffix: the wire type, the
// envelope and the answer's text. When the answer of the server was lost
// (the connection broke after the request went out, or the process ended),
// the next pass finds it and sends the same bytes again instead of
// signing anew; the server's code 10 ("Сообщение уже есть в АИС") to such
// a resend means the first sending arrived and counts as accepted, so the
// accounting system gets the answer with the document the recipient holds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "exchange/session.h"
#include "folder/handlers.h"
#include "link/exchange_record.h"

namespace folder {

// The server already holds a message of this number from this sender:
// to a resend, the first sending arrived.
inline constexpr uint8_t kCodeAlreadyThere = 10;

inline constexpr char kAcceptedSuffix[] = ".accepted";
inline constexpr char kSendingSuffix[] = ".sending";

// The error answers of the sending handlers.
inline constexpr wchar_t kSendError[] = L"Ошибка при отправке сообщения";
inline constexpr wchar_t kEncryptError[] = L"Ошибка шифрования файла";

// Saves the answer document being written (XMLSave) and deletes the
// request file when it was saved. True when saved; otherwise the request
// stays for the next pass.
bool SaveAnswerAndFinish(const FolderPassContext& context, const FolderRequest& request);

// For a request the server has accepted: saves the answer document and
// deletes the request file; when the answer cannot be saved, keeps it
// beside the request (see above), or, failing that too, deletes the
// request anyway, since sending it again would deliver it twice.
void FinishAccepted(const FolderPassContext& context, const FolderRequest& request);

// True when the server accepted this request in an earlier pass: the kept
// answer is then saved and, once saved, the request and the kept answer
// are deleted; nothing is sent. False when no answer is kept for it.
bool FinishedEarlier(const FolderPassContext& context, const FolderRequest& request);

// A signed document as it goes to the server, and its answer.
struct PreparedSend {
  uint8_t type = 0;              // the wire type
  std::vector<uint8_t> payload;  // the envelope
  std::wstring answer;           // the answer's text, complete
};

// Keeps the prepared send beside the request (whole or not at all). False
// when it could not be written; the send goes on without it.
bool KeepPreparedSend(const FolderRequest& request, const PreparedSend& prepared);

// The prepared send of an earlier pass; false when none is kept. One kept
// for another number (an earlier request of the same file name) is
// deleted.
bool PreparedSendOf(const FolderRequest& request, PreparedSend* prepared);

// Deletes the prepared send once its request is finished.
void DropPreparedSend(const FolderRequest& request);

// The common end of the requests answered with a status: sends the record,
// kept beside the request before it goes out as a signed document is;
// accepted (or, for the resend of a kept record, refused with
// kCodeAlreadyThere): the answer `type` "thestatus", `number`, `Status` =
// status, `message` "Отправлено", finished with FinishAccepted. Nothing
// sent (kind 0) or the connection lost on the way: the request stays. Any
// other reply: the error answer kSendError with the reply code, and the
// request is deleted.
void SendAndAnswerStatus(const FolderPassContext& context, const FolderRequest& request,
                         serverlink::ExchangeRecord* record, const std::wstring& status);

}  // namespace folder
