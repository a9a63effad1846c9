// The diagnostic log: plain text files under the user's own temporary
// folder (platform::TempFolder()), readable by the user alone: folders
// 0700, files 0600, never opened through a link.
//
//   <temp>/<root>/<kind>/<yyyymmdd>/<stem>.txt
//
// The format of the files is described in docs/log-format.md. Every
// operation of the program writes a marker when it begins and the same
// marker followed by " - end" when it ends; failed system calls are logged
// with LogError and the system's code; caught exceptions with LogException
// and the operation's full name.
//
// The writer never fails loudly: a folder that cannot be created or a file
// that cannot be opened drops the line. Each line is one write to a file
// kept open between lines (docs/log-format.md says when it is opened
// again), so the log is complete up to the last line before a crash. Any
// thread may write.
#pragma once

#include <cstdint>
#include <string>

namespace core {

// Name of the log's root folder under the temporary folder ("Tessarin" for
// the client, "TSR_Update" for the updater) and the run's stamp, the stem of
// the run's files ("%02d%02d%02d_%03d" of the start time). Set once at
// start-up, before any other thread runs.
void SetLogRoot(const std::string& name);
void SetRunStamp(const std::string& stamp);
const std::string& RunStamp();

// Forms the run stamp from hour, minute, second and milliseconds.
std::string MakeRunStamp(int hour, int minute, int second, int millisecond);

// Kinds of log, each a folder of its own.
extern const char kLogNormal[];  // "Normal"
extern const char kLogError[];   // "Error"
extern const char kLogExcept[];  // "Except"

// Appends one line "yyyy.mm.dd hh:mm:ss:mmm <text> \r\n" to the file of
// `kind` (kLogExcept when null) named by `stem`, or by the moment of
// writing when `stem` is null. The text is written as the bytes it is.
void LogWrite(const std::string& text, const char* kind, const char* stem);

// The line to the run's "Normal" file.
void LogInfo(const std::string& text);

// "<text> - <number>", cut to 1 280 characters, to "Normal".
void LogValue(const std::string& text, int64_t number);

// "Error = <text>", followed by " <code> = <CODE in hex>" when code is not
// 0, to the run's "Normal" and then "Error" files.
void LogError(const std::string& text, int64_t code);

// "Exception - <operation>" to the run's "Normal" file and to a new "Except"
// file named by the moment of writing.
void LogException(const std::string& operation);

// Wide text as UTF-8 to "Normal"; LogNarrowed writes each character's low
// byte.
void LogWide(const std::wstring& text);
void LogNarrowed(const std::wstring& text);

// Full path of the file written last by any thread.
std::string LastLogFile();

// Creates parent + name + separator ("already exists" counts as success) and
// tells whether it exists afterwards. With descend, parent becomes that path
// whether or not the creation succeeded.
bool MakeSubfolder(std::string* parent, const std::string& name, bool descend);

}  // namespace core
