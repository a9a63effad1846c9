// The diagnostic log writer (see log.h and docs/log-format.md). Used by
// every subsystem of the client and by the updater.
#include "core/log.h"

#include <cstdio>
#include <initializer_list>
#include <mutex>

#include "core/format.h"
#include "core/text.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/paths.h"

namespace core {

const char kLogNormal[] = "Normal";
const char kLogError[] = "Error";
const char kLogExcept[] = "Except";

namespace {

// Set at start-up before other threads run; read-only afterwards.
std::string logRoot = "Tessarin";
std::string runStamp = "000000_000";

// The file the last line went to stays open for the next line: opening and
// closing it for every line cost more than the rest of the intake of a
// document. Whether it was deleted meanwhile (its folders removed by hand)
// is asked at most once a second, and then it is made again; a renamed one
// keeps its lines until the day or the run changes the name.
constexpr int64_t kDeletionCheckMs = 1000;
std::mutex writeMutex;
std::string lastLogFile;      // guarded by writeMutex
platform::File openLog;       // open on lastLogFile, or -1; guarded by writeMutex
int64_t openLogCheckedMs = 0; // when openLog was last found still named; guarded by writeMutex

// Whether the open file may take the line.
bool OpenLogServes(const std::string& fileName) {
  if (openLog.handle == -1 || lastLogFile != fileName) return false;
  const int64_t now = platform::MonotonicMs();
  if (now - openLogCheckedMs < kDeletionCheckMs && now >= openLogCheckedMs) return true;
  if (platform::FileDeleted(openLog)) return false;
  openLogCheckedMs = now;
  return true;
}

constexpr size_t kLogValueLimit = 1280;  // the caller's buffer of LogValue

// One number of a time stamp: its value (not negative), its least number
// of digits (zeros in front, as "%0*d") and the character after it, if any.
struct StampField {
  int value;
  int width;
  char after;  // '\0' for none
};

// Appends the fields in order. The numbers are put in by hand: formatting
// them with printf took a fifth of the cost of a log line.
void AppendStamp(std::string* out, std::initializer_list<StampField> fields) {
  for (const StampField& field : fields) {
    char digits[16];
    int count = 0;
    int value = field.value;
    do {
      digits[count++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value > 0 || count < field.width);
    while (count > 0) *out += digits[--count];
    if (field.after != '\0') *out += field.after;
  }
}

}  // namespace

void SetLogRoot(const std::string& name) { logRoot = name; }

void SetRunStamp(const std::string& stamp) { runStamp = stamp; }

const std::string& RunStamp() { return runStamp; }

std::string MakeRunStamp(int hour, int minute, int second, int millisecond) {
  return Format("%02d%02d%02d_%03d", hour, minute, second, millisecond);
}

namespace {

// MakeSubfolder, the new folder open to the user alone when ownerOnly.
bool MakeFolder(std::string* parent, const std::string& name, bool descend, bool ownerOnly) {
  std::string path = *parent + name + platform::kPathSeparator;
  bool ok = ownerOnly ? platform::FolderCreatePrivate(path) : platform::FolderCreate(path);
  if (!ok) {
    int error = platform::LastSystemError();
    ok = platform::ErrorKindOf(error) == platform::ErrorKind::AlreadyExists;
    // Invisible to the user of the windowed client; kept off stdout here,
    // which is the headless client's console.
    if (!ok) std::fprintf(stderr, "Error %d\n", error);
  }
  if (descend) *parent = path;
  return ok;
}

}  // namespace

bool MakeSubfolder(std::string* parent, const std::string& name, bool descend) {
  return MakeFolder(parent, name, descend, false);
}

void LogWrite(const std::string& text, const char* kind, const char* stem) {
  // The lines are the user's business alone: the folders are made 0700 and
  // the files 0600 in the user's own temporary folder, and the file is not
  // opened through a link. Without such a folder the line is dropped.
  const std::string temp = platform::TempFolder();
  if (temp.empty()) return;
  const platform::CalendarTime now = platform::LocalNow();
  std::string day;
  AppendStamp(&day, {{now.year, 1, '\0'}, {now.month, 2, '\0'}, {now.day, 2, '\0'}});  // "%d%02d%02d"
  std::string fileName;
  fileName.reserve(temp.size() + logRoot.size() + 40);
  fileName += temp;
  fileName += logRoot;
  fileName += platform::kPathSeparator;
  fileName += kind != nullptr ? kind : kLogExcept;
  fileName += platform::kPathSeparator;
  fileName += day;
  fileName += platform::kPathSeparator;
  if (stem != nullptr) {
    fileName += stem;
  } else {  // "%02d%02d%02d_%03d"
    AppendStamp(&fileName,
                {{now.hour, 2, '\0'}, {now.minute, 2, '\0'}, {now.second, 2, '_'}, {now.millisecond, 3, '\0'}});
  }
  fileName += ".txt";
  // The line is made before the lock: threads wait for each other only
  // while a line is written. "%d.%02d.%02d %02d:%02d:%02d:%03d %s \r\n"
  std::string line;
  line.reserve(text.size() + 32);
  AppendStamp(&line, {{now.year, 1, '.'},
                      {now.month, 2, '.'},
                      {now.day, 2, ' '},
                      {now.hour, 2, ':'},
                      {now.minute, 2, ':'},
                      {now.second, 2, ':'},
                      {now.millisecond, 3, ' '}});
  line += text;
  line += " \r\n";
  std::lock_guard<std::mutex> lock(writeMutex);
  const bool reuse = OpenLogServes(fileName);
  if (lastLogFile != fileName) lastLogFile = fileName;
  if (!reuse) {
    platform::FileClose(&openLog);
    // A file is opened by its path only in a folder found just now to be
    // the user's own; when the verdict changed, the next line goes to the
    // new folder.
    if (platform::TempFolder(true) != temp) return;
    // The folders are made only when the file's folder is not there (the
    // first line of a kind, of a day, or after somebody removed them).
    if (!platform::FileOpen(fileName, platform::OpenMode::AppendPrivate, &openLog)) {
      if (platform::ErrorKindOf(platform::LastSystemError()) != platform::ErrorKind::NotFound) return;
      std::string folder = temp;
      if (!MakeFolder(&folder, logRoot, true, true)) return;
      if (!MakeFolder(&folder, kind != nullptr ? kind : kLogExcept, true, true)) return;
      if (!MakeFolder(&folder, day, true, true)) return;
      if (!platform::FileOpen(fileName, platform::OpenMode::AppendPrivate, &openLog)) return;
    }
    openLogCheckedMs = platform::MonotonicMs();
  }
  platform::FileAppend(openLog, line.data(), line.size());
}

void LogInfo(const std::string& text) { LogWrite(text, kLogNormal, runStamp.c_str()); }

void LogValue(const std::string& text, int64_t number) {
  std::string line = text + " - " + std::to_string(number);
  if (line.size() > kLogValueLimit - 1) line.resize(kLogValueLimit - 1);
  LogInfo(line);
}

void LogError(const std::string& text, int64_t code) {
  std::string line = "Error = " + text;
  if (code != 0) {
    // The code as the system reports it: a 32-bit value, decimal then hex.
    int32_t value = static_cast<int32_t>(code);
    line += Format(" %d = %X", value, static_cast<uint32_t>(value));
  }
  LogWrite(line, kLogNormal, runStamp.c_str());
  LogWrite(line, kLogError, runStamp.c_str());
}

void LogException(const std::string& operation) {
  std::string line = "Exception - " + operation;
  LogWrite(line, kLogNormal, runStamp.c_str());
  LogWrite(line, kLogExcept, nullptr);
}

void LogWide(const std::wstring& text) { LogInfo(ToNarrow(text, kCodePageUtf8)); }

void LogNarrowed(const std::wstring& text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (wchar_t c : text) bytes.push_back(static_cast<char>(c & 0xFF));
  LogInfo(bytes);
}

std::string LastLogFile() {
  std::lock_guard<std::mutex> lock(writeMutex);
  return lastLogFile;
}

}  // namespace core
