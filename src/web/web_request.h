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
std::string HandleWebRequest(const std::string& request);

}  // namespace web
