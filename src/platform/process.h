// Processes: this one, starting others, and handing over to a running
// client.
#pragma once

#include <string>
#include <vector>

namespace platform {

int CurrentProcessId();

// The arguments this program was started with, its own name first, as
// UTF-8: main's argv on Linux; on Windows, where argv is in the ANSI code
// page, the wide command line (argc and argv are then used only when it
// cannot be read).
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Makes stdout and stderr write the bytes they are given: the Windows
// runtime's text mode would put a CR before every LF, and a CR LF of a file
// printed whole would come out as CR CR LF. Console programs call it first
// thing, so that their output is the same on every system. Nothing to do on
// Linux.
void StandardStreamsAsBytes();

// Ends this process at once with the exit code, from any thread: the
// standard streams are flushed, and neither exit handlers nor destructors
// of static objects run (other threads may still be using them).
[[noreturn]] void ProcessEndNow(int exitCode);

// Makes a write to a pipe or socket whose reader has gone fail with an error
// instead of ending the process (SIGPIPE ignored on Linux). Called first
// thing by the client and the updater: a closed console must not kill them.
void IgnoreBrokenPipes();

// Every program started by the functions below (the updater, the client, a
// viewer, an editor) begins with no signal blocked and every signal at its
// default action, whatever this process blocks or ignores.

// Starts a program detached from this one (its own session on Linux), so
// that it outlives the caller. False when it could not be started.
bool ProcessStart(const std::string& executable, const std::vector<std::string>& arguments);

// Opens a document or a web address with the system's viewer (xdg-open on
// Linux; without it the path is printed).
bool ShellOpen(const std::string& pathOrAddress);

// Opens a text file in the user's editor ($EDITOR, else xdg-open, else the
// path is printed).
bool OpenInTextEditor(const std::string& path);

}  // namespace platform
