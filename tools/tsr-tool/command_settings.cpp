// tsr-tool settings list|get NAME|set NAME VALUE --folder DIR: reads and writes the settings of a client's program
// folder through the client's own settings store, for support staff and for
// preparing a headless client before its web page exists. Writing is
// refused while a client runs in that folder: the client would overwrite
// the changes with its own copy at its next save. See docs/tsr-tool.md.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "commands.h"
#include "core/text.h"
#include "platform/file.h"
#include "platform/instance_lock.h"
#include "platform/paths.h"
#include "storage/database.h"
#include "storage/settings.h"

namespace tsr_tool {
namespace {

// The keys the client knows; the integer ones are stored as integers.
const char* const kIntegerKeys[] = {"IDC_SECURE", "IDC_SERVICE", "IDC_PROXY_USE", "IDC_RUN", "IDC_WEBKEY"};
const char* const kTextKeys[] = {
    "IDC_CERT",      "IDC_PASS",       "IDC_BRANCH",  "IDC_PATH",    "IDC_PHONE",
    "IDC_FACE",      "IDC_BASE",       "IDC_POST",    "IDC_NAME",    "IDC_EMAIL",
    "IDC_EDS_FIO",   "IDC_EDS_PHONE",  "IDC_PROXY_T", "IDC_PROXY_A", "IDC_PROXY_PORT",
    "IDC_PROXY_USER", "IDC_PROXY_PASS"};

bool IsIntegerKey(const std::string& name) {
  for (const char* key : kIntegerKeys) {
    if (name == key) return true;
  }
  return false;
}

bool IsKnownKey(const std::string& name) {
  if (IsIntegerKey(name)) return true;
  for (const char* key : kTextKeys) {
    if (name == key) return true;
  }
  return false;
}

// The program folder as the client names it: absolute, links resolved,
// ending with the separator. Paths are UTF-8 (string() and a path made of
// a std::string would take the ANSI code page on Windows).
std::string ProgramFolderOf(const std::string& dir) {
  std::error_code error;
  const std::filesystem::path given(std::u8string(dir.begin(), dir.end()));
  std::filesystem::path path = std::filesystem::absolute(given, error);
  if (!error) path = std::filesystem::weakly_canonical(path, error);
  const std::u8string folder = (error ? given : path).u8string();
  return platform::AsFolder(std::string(folder.begin(), folder.end()));
}

// What list and get print for a record: the integer, the text, or a mask
// for the key-medium password.
std::string Shown(const storage::SettingRecord& record) {
  if (record.type == storage::kSettingInteger) return std::to_string(record.value);
  if (!record.text) return std::string();
  if (std::strcmp(record.name, "IDC_PASS") == 0 && !record.text->empty()) return "********";
  return core::ToNarrow(*record.text, core::kCodePageUtf8);
}

int List() {
  for (const storage::SettingRecord& record : storage::SettingsSnapshot()) {
    std::printf("%s = %s\n", record.name, Shown(record).c_str());
  }
  return kExitOk;
}

int Get(const std::string& name) {
  int index = storage::FindSetting(name);
  if (index < 0) {
    std::fprintf(stderr, "%s is not set\n", name.c_str());
    return kExitFailure;
  }
  storage::SettingRecord record = storage::SettingsSnapshot()[static_cast<size_t>(index)];
  // Asked for by name, the password is shown in clear.
  if (record.type == storage::kSettingText && record.text) {
    std::printf("%s\n", core::ToNarrow(*record.text, core::kCodePageUtf8).c_str());
  } else {
    std::printf("%s\n", Shown(record).c_str());
  }
  return kExitOk;
}

int Set(const std::string& name, const std::string& value) {
  if (IsIntegerKey(name)) {
    int32_t number = 0;
    auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (error != std::errc() || end != value.data() + value.size()) {
      std::fprintf(stderr, "%s takes an integer, not \"%s\"\n", name.c_str(), value.c_str());
      return kExitUsage;
    }
    storage::SetSettingInt(name, number);
  } else {
    // The exchange folder is stored as the client uses it, ending with the
    // separator; an empty value names no folder.
    const std::string stored = name == "IDC_PATH" ? platform::AsFolder(value) : value;
    std::wstring text = core::ToWide(stored, core::kCodePageUtf8);
    if (text.empty() && !stored.empty()) {
      std::fprintf(stderr, "the value of %s is not UTF-8 text\n", name.c_str());
      return kExitUsage;
    }
    storage::SetSettingText(name, text);
  }
  storage::SaveSettings();
  if (name == "IDC_PASS" || name == "IDC_CERT") {
    std::optional<std::wstring> password = storage::GetSettingText("IDC_PASS");
    std::optional<std::wstring> certificate = storage::GetSettingText("IDC_CERT");
    if (password && !password->empty() &&
        (!certificate || certificate->size() <= 20 || password->size() <= 7)) {
      std::fprintf(stderr,
                   "note: IDC_PASS was stored empty; it is kept only when IDC_CERT holds a key "
                   "identifier (more than 20 characters) and the password is longer than 7 "
                   "characters\n");
    }
  }
  std::printf("%s saved\n", name.c_str());
  return kExitOk;
}

}  // namespace

int RunSettings(const Command& self, const std::vector<std::string>& args) {
  std::vector<std::string> words;
  std::string dir;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--folder") {
      if (i + 1 >= args.size()) return UsageError(self, "--folder needs a folder");
      dir = args[++i];
    } else {
      words.push_back(args[i]);
    }
  }
  if (dir.empty()) return UsageError(self, "--folder DIR is required");
  if (words.empty()) return UsageError(self, "expected list, get or set");
  const std::string& action = words[0];
  bool writing = action == "set";
  if (!((action == "list" && words.size() == 1) || (action == "get" && words.size() == 2) ||
        (writing && words.size() == 3))) {
    return UsageError(self, "expected list, get NAME or set NAME VALUE");
  }
  if (writing && !IsKnownKey(words[1])) {
    return UsageError(self, words[1] + " is not a setting of the client");
  }

  std::string folder = ProgramFolderOf(dir);
  if (!platform::FolderExists(folder)) {
    std::fprintf(stderr, "%s is not a folder\n", folder.c_str());
    return kExitFailure;
  }
  std::string database = folder + "TS.db";
  if (!writing && !platform::FileExists(database)) {
    std::fprintf(stderr, "%s does not exist\n", database.c_str());
    return kExitFailure;
  }
  if (writing && platform::InstanceLockHeld(folder)) {
    std::fprintf(stderr,
                 "a client is running in %s; close it before changing its settings (it would "
                 "overwrite them)\n",
                 folder.c_str());
    return kExitFailure;
  }
  if (!storage::OpenDatabase(database, storage::kSchemaScript)) {
    std::fprintf(stderr, "cannot open %s\n", database.c_str());
    return kExitFailure;
  }
  storage::LoadSettings();
  int result = action == "list" ? List() : action == "get" ? Get(words[1]) : Set(words[1], words[2]);
  storage::CloseDatabase();
  return result;
}

}  // namespace tsr_tool
