// The request handlers of the exchange folder: what each request type does
// once the folder pass has claimed, read and checked its file.
//
// Called by the folder pass's dispatcher (pass.h) on the folder pass
// thread, one request at a time. Each handler writes its answers into the
// exchange folder's in/ (answer_file.h) and deletes the request file
// itself when the request is finished; it leaves the file for the next
// pass when the server gave no answer, or when an answer could not be
// saved, so that nothing the accounting system asked for is lost.
#pragma once

#include <cstdint>
#include <string>

#include "folder/folder_request.h"
#include "link/exchange_record.h"

namespace folder {

// What every handler needs besides its request.
struct FolderPassContext {
  std::string exchangeFolder;  // IDC_PATH, ending with the separator
  std::string iks;             // the selected certificate's IKS: 40 upper-case hexadecimal digits
  std::string unp;             // the selected certificate's УНП as text
};

// Requests answered from the server's mailbox (the message reading side).
void GetList(const FolderPassContext& context, const FolderRequest& request);           // "getlist" (40)
void GetOneMessage(const FolderPassContext& context, const FolderRequest& request);     // "getmessage" (41)
void DeleteOneMessage(const FolderPassContext& context, const FolderRequest& request);  // "deletemessage" (42)

// Requests that sign and send (the sending side).
void PSSingle(const FolderPassContext& context, const FolderRequest& request);  // "signsingle" (49)
// "signfirst" (50) with the answer type "EDocWithSign", "signnext" (51)
// with "EDocWithTwoSigns".
void PSS(const FolderPassContext& context, const FolderRequest& request, const std::wstring& answerType);
void ProcessSendMessage(const FolderPassContext& context, const FolderRequest& request);      // "rejected" (56)
void ProcessGetCertificate(const FolderPassContext& context, const FolderRequest& request);   // "getcertificate" (73)
void ProcessSendCertificate(const FolderPassContext& context, const FolderRequest& request);  // "thecertificate" (74)

// The answer for one message fetched from the server (`record`, as the
// server sent it; `idm` its identifier, 0 when unknown): its fields, and
// for a document the decrypted content, the signature check and its
// report. A document whose sender wants a delivery confirmation (62, 162;
// 63, 163 for a co-signed reply) gets it sent before the answer is saved;
// one that fails its check is refused automatically (52 only) and the
// refusal answered with a status answer. One that our own key cannot open
// is neither answered nor refused (KeyUnavailable). Logs "MakeMessageForIC-Begin" /
// "MakeMessageForIC-End".
enum class MessageAnswer {
  Saved,        // the answer is in in/
  NotConfirmed, // the wanted confirmation could not be sent: no answer, the message waits on the server
  NotSaved,     // the answer could not be saved
  // Our key could not open the document (key medium missing, PIN
  // refused): no answer, no refusal; the message waits on the server and
  // the request that fetched it waits for the next pass.
  KeyUnavailable,
};
MessageAnswer MakeMessageForIC(const FolderPassContext& context, serverlink::ExchangeRecord record, int32_t idm);

// Ends a request whose answer is saved (or that needs none): deletes its
// file from the working folder. A file that cannot be deleted is logged
// and remembered, so that later passes do not take it again but only try
// to delete it; false then.
bool FinishRequest(const FolderRequest& request);

// The refusal of a request: the error answer (text, the number when given,
// the server's code or 0), then, once it is saved, FinishRequest. When the
// answer cannot be saved the request stays for the next pass. True when
// the answer was saved.
bool RefuseRequest(const FolderPassContext& context, const FolderRequest& request, const std::wstring& text,
                   const std::string& number, int code);

// True from the start of the run until the server refuses a sign-and-send
// request with code 14 or 15; while it is false "signfirst" requests wait
// in the working folder.
bool SignFirstEnabled();
void SetSignFirstEnabled(bool enabled);

}  // namespace folder
