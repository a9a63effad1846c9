// The page of the local web interface (see web_page.h), opened by the
// start-up.
#include "shell/web_page.h"

#include "core/folders.h"
#include "core/format.h"
#include "core/log.h"
#include "core/text.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/random.h"
#include "storage/settings.h"
#include "web/listener.h"

namespace shell {

std::string WebPageAddress(const std::string& programFolder, int port, const std::string& key) {
  std::string path = programFolder + "web" + platform::kPathSeparator + "index.html";
  if (port == web::kWebPort && key.empty()) return path;
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
  return address + "?port=" + std::to_string(port) + (key.empty() ? "" : "&token=" + key);
}

std::string MakeWebAccessKey() {
  if (storage::GetSettingInt("IDC_WEBKEY") != 1) return std::string();
  uint8_t bytes[16];
  if (!platform::RandomBytes(bytes, sizeof bytes)) {
    // Without a key nobody could use the page: it is refused until the
    // next start says why.
    core::LogError("MakeWebAccessKey: no random bytes", platform::LastSystemError());
    return "-";
  }
  return core::HexEncode(bytes, sizeof bytes);
}

bool OpenWebPage(const std::string& key) {
  std::string folder = core::ProgramFolder();
  if (!platform::FileExists(folder + "web" + platform::kPathSeparator + "index.html")) {
    core::LogError("OpenWebPage: no web" + std::string(1, platform::kPathSeparator) + "index.html beside the program", 0);
    return false;
  }
  std::string address = WebPageAddress(folder, web::WebListenerPort(), key);
  core::LogInfo("OpenWebPage " + (key.empty() ? address : WebPageAddress(folder, web::WebListenerPort(), "*")));
  if (platform::ShellOpen(address)) return true;
  core::LogError("OpenWebPage: the page could not be opened", 0);
  return false;
}

}  // namespace shell
