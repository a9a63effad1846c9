// The user's autostart entries on Linux as XDG autostart files (see
// autostart.h). Called by the shell's UpdateAutostart.
#include "platform/autostart.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/error.h"
#include "platform/file.h"

namespace platform {

namespace {

const char kSuffix[] = ".desktop";

// ${XDG_CONFIG_HOME:-~/.config}/autostart/, or empty when there is no home.
std::string AutostartFolder() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (config != nullptr && config[0] == '/') {
    base = config;
  } else {
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') return std::string();
    base = std::string(home) + "/.config";
  }
  if (base.back() != '/') base += '/';
  return base + "autostart/";
}

// Makes each missing folder of `folder` (which ends with '/').
bool MakeFolders(const std::string& folder) {
  for (size_t slash = folder.find('/', 1); slash != std::string::npos; slash = folder.find('/', slash + 1)) {
    std::string part = folder.substr(0, slash);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      SetLastSystemError(errno);
      return false;
    }
  }
  return true;
}

// The escapes of a string value of a .desktop file (\s \n \t \r \\) undone.
std::string UnescapeValue(const std::string& value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      out += value[i];
      continue;
    }
    char next = value[++i];
    switch (next) {
      case 's': out += ' '; break;
      case 'n': out += '\n'; break;
      case 't': out += '\t'; break;
      case 'r': out += '\r'; break;
      case '\\': out += '\\'; break;
      default:  // not an escape of the file: left for the quoting rules
        out += '\\';
        out += next;
        break;
    }
  }
  return out;
}

// The command line of an Exec value with its quoting taken away: the
// arguments' text as the program receives it ("%%" is a plain '%').
std::string UnquoteExec(const std::string& exec) {
  std::string out;
  bool quoted = false;
  for (size_t i = 0; i < exec.size(); ++i) {
    char c = exec[i];
    if (c == '"') {
      quoted = !quoted;
    } else if (quoted && c == '\\' && i + 1 < exec.size()) {
      out += exec[++i];
    } else if (c == '%' && i + 1 < exec.size() && exec[i + 1] == '%') {
      out += '%';
      ++i;
    } else {
      out += c;
    }
  }
  return out;
}

// The Exec= line of a .desktop file's text, unquoted; empty when it has none.
std::string ExecCommand(const std::string& text) {
  bool inEntry = false;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      inEntry = line == "[Desktop Entry]";
    } else if (inEntry && line.compare(0, 5, "Exec=") == 0) {
      return UnquoteExec(UnescapeValue(line.substr(5)));
    }
  }
  return std::string();
}

}  // namespace

std::string AutostartExecValue(const std::string& path) {
  // Inside double quotes '"', '`', '$' and '\' take a backslash; a '%' is
  // doubled so that it is no field code; then every backslash is doubled
  // once more, as the file's string escapes come first.
  std::string value = "\"";
  for (char c : path) {
    if (c == '"' || c == '`' || c == '$') {
      value += "\\";
      value += c;
    } else if (c == '\\') {
      value += "\\\\\\\\";
    } else if (c == '%') {
      value += "%%";
    } else if (c == '\n') {
      value += "\\n";
    } else {
      value += c;
    }
  }
  return value + "\"";
}

bool ListAutostartEntries(std::vector<AutostartEntry>* entries) {
  entries->clear();
  std::string folder = AutostartFolder();
  if (folder.empty()) {
    SetLastSystemError(ENOENT);
    return false;
  }
  if (!FolderExists(folder)) return true;
  std::vector<FolderEntry> files;
  if (!ListFolder(folder, std::string("*") + kSuffix, &files)) return false;
  for (const FolderEntry& file : files) {
    if (file.isFolder) continue;
    std::vector<uint8_t> data;
    if (!ReadWholeFile(folder + file.name, &data)) continue;  // unreadable: not ours to judge
    AutostartEntry entry;
    entry.name = file.name.substr(0, file.name.size() - (sizeof(kSuffix) - 1));
    entry.command = ExecCommand(std::string(data.begin(), data.end()));
    entries->push_back(entry);
  }
  return true;
}

bool WriteAutostartEntry(const std::string& name, const std::string& executablePath) {
  std::string folder = AutostartFolder();
  if (folder.empty()) {
    SetLastSystemError(ENOENT);
    return false;
  }
  if (!MakeFolders(folder)) return false;
  std::string text = "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" +
                     AutostartExecValue(executablePath) + "\nTerminal=false\n";
  return WriteWholeFile(folder + name + kSuffix, text.data(), text.size());
}

bool DeleteAutostartEntry(const std::string& name) {
  std::string folder = AutostartFolder();
  if (folder.empty()) {
    SetLastSystemError(ENOENT);
    return false;
  }
  return FileDelete(folder + name + kSuffix);
}

}  // namespace platform
