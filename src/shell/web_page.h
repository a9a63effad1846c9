// The page of the local web interface (web/index.html beside the program;
// the build puts it there) and its opening at start, when the interface is
// on. Called by the start-up.
#pragma once

#include <string>

namespace shell {

// What the system's viewer is given: the page's path as it is for the
// product's port (web::kWebPort), else a file address with "?port=" (the
// page reads its port there).
std::string WebPageAddress(const std::string& programFolder, int port);

// Opens the page with the system's viewer; false (and an error line) when
// the page is not beside the program or could not be opened.
bool OpenWebPage();

}  // namespace shell
