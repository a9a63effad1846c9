// The web page's document commands: the list of received documents,
// fetching new ones (with the registration prompt), saving, showing,
// signing, refusing and describing one document. Called by
// HandleWebRequest on the worker threads, beside the window's thread and
// the exchange-folder pass; they use the same exchange operations as the
// window and the dialogs.
#pragma once

#include <cstdint>
#include <string>

namespace web {

// "getdocuments": the documents answer without a message element. With
// `offset` or `count` in the request, only that page of the list (newest
// first; count 50 when not given, at most kMaxPageRows) and the list's
// length as "total"; without either, every row as the page of the first
// version expects.
constexpr int32_t kMaxPageRows = 1000;
std::string DocumentsCommand(const std::string& request);

// "getmessages": fetches the waiting messages and answers the documents
// answer with their count, or the registration prompt when the server does
// not know the organisation yet. "register" (agreed): the same after the
// page's agreement.
std::string FetchCommand(bool agreed);

// The sample answers for a page without a phone.
std::string SampleDocumentsAnswer(bool withMessage);

// "unload", "show", "sign", "reject", "info" for the document the
// request's `number` names.
std::string UnloadCommand(const std::string& request);
std::string ShowCommand(const std::string& request);
std::string SignCommand(const std::string& request);
std::string RejectCommand(const std::string& request);
std::string InfoCommand(const std::string& request);

}  // namespace web
