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

#include <string>

#include "folder/folder_request.h"

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

// True from the start of the run until the server refuses a sign-and-send
// request with code 14 or 15; while it is false "signfirst" requests wait
// in the working folder.
bool SignFirstEnabled();
void SetSignFirstEnabled(bool enabled);

}  // namespace folder
