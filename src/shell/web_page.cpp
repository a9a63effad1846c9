// The page of the local web interface (see web_page.h), opened by the
// start-up.
#include "shell/web_page.h"

#include "core/folders.h"
#include "core/format.h"
#include "core/log.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "web/listener.h"

namespace shell {

std::string WebPageAddress(const std::string& programFolder, int port) {
  std::string path = programFolder + "web" + platform::kPathSeparator + "index.html";
  if (port == web::kWebPort) return path;
  // A file address: separators as "/", a drive letter behind a third "/",
  // every byte that is not plainly safe in an address as %XX.
  std::string address = "file://";
  if (path.empty() || path[0] != '/') address += '/';
  for (unsigned char c : path) {
    if (c == '\\') c = '/';
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                 std::string("/-._~:").find(static_cast<char>(c)) != std::string::npos;
    address += plain ? std::string(1, static_cast<char>(c)) : core::Format("%%%02X", c);
  }
  return address + "?port=" + std::to_string(port);
}

bool OpenWebPage() {
  std::string folder = core::ProgramFolder();
  if (!platform::FileExists(folder + "web" + platform::kPathSeparator + "index.html")) {
    core::LogError("OpenWebPage: no web" + std::string(1, platform::kPathSeparator) + "index.html beside the program", 0);
    return false;
  }
  std::string address = WebPageAddress(folder, web::WebListenerPort());
  core::LogInfo("OpenWebPage " + address);
  if (platform::ShellOpen(address)) return true;
  core::LogError("OpenWebPage: the page could not be opened", 0);
  return false;
}

}  // namespace shell
