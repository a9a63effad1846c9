// The local web page's JSONP commands: one received request text in, one
// complete HTTP response out. The listener's worker threads call it, many
// at once, beside the window's thread and the exchange-folder pass. The
// commands and their answers: docs/web-api.md.
#pragma once

#include <string>

namespace web {

// Reads `request`, `phone` and `callback` from the whole text, runs the
// command and frames the answer: the callback name followed by the
// command's JSON text (nothing for an unknown command or one that needs a
// phone the page did not give). A phone that counts and differs from
// "IDC_PHONE" is stored there and the settings are saved.
//
// Until the client has said whether the page needs a key (SetAccessKey,
// once its settings are read), every request is answered "Клиент
// запускается" and carries out nothing; with a key, a request without
// `token` = that key is refused the same way.
std::string HandleWebRequest(const std::string& request);

// The key the page must send as `token` with every request: an empty key
// needs none. Set once the settings are read (the start-up), before the
// page is opened.
void SetAccessKey(const std::string& key);

}  // namespace web
