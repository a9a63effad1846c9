// The page of the local web interface (web/index.html beside the program;
// the build puts it there) and its opening at start, when the interface is
// on. Called by the start-up.
#pragma once

#include <string>

namespace shell {

// What the system's viewer is given: the page's path as it is for the
// product's port (web::kWebPort) and no key, else a file address with
// "?port=" and, with a key, "&token=" (the page reads both there).
std::string WebPageAddress(const std::string& programFolder, int port, const std::string& key = "");

// The key the page must send with every request: with the setting
// "IDC_WEBKEY" at 1, 32 hexadecimal digits from the system's generator,
// new at each start, so that only the page the client opens knows it (any
// other page in the browser could call the client otherwise); empty (no
// key) when the setting is 0 or missing, as the pages written for the
// first version need.
std::string MakeWebAccessKey();

// Opens the page, with the key given to web::SetAccessKey, with the
// system's viewer; false (and an error line) when
// the page is not beside the program or could not be opened.
bool OpenWebPage(const std::string& key);

}  // namespace shell
