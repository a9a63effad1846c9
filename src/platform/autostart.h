// The current user's autostart entries: the programs the desktop starts when
// the user logs on. Called by the shell's autostart upkeep (UpdateAutostart).
//
// On Windows an entry is a string value of the user's Run key, its data the
// command. On Linux it is an XDG autostart file
// ${XDG_CONFIG_HOME:-~/.config}/autostart/<name>.desktop whose Exec= line
// holds the command. Names and commands are UTF-8. A failed call returns
// false and leaves the system code in LastSystemError().
#pragma once

#include <string>
#include <vector>

namespace platform {

struct AutostartEntry {
  std::string name;     // the value name; on Linux the file name without ".desktop"
  std::string command;  // the command as the desktop runs it (on Linux Exec= unquoted)
};

// Every entry of the user. A missing autostart folder has none.
bool ListAutostartEntries(std::vector<AutostartEntry>* entries);

// Writes (or replaces) the entry `name` that starts `executablePath` with no
// arguments; the folder is made when missing.
bool WriteAutostartEntry(const std::string& name, const std::string& executablePath);

// Deletes the entry `name`; false (NotFound) when there is none.
bool DeleteAutostartEntry(const std::string& name);

// The Exec= value that runs `path` with no arguments: quoted, with the
// characters the desktop would otherwise take apart escaped, as written in
// a .desktop file.
std::string AutostartExecValue(const std::string& path);

}  // namespace platform
