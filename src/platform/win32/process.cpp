// Processes on Windows: starting programs with CreateProcessW (the command
// line quoted as the runtime's argument parser reads it back), this one's
// arguments from its wide command line, ending this one at once, and
// opening documents with the shell's "open" verb. Called by the client, the updater, the document
// viewer and tsr-tool.
#include "platform/process.h"

#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cwchar>

#include "platform/error.h"
#include "platform/win32/wide.h"

namespace platform {

namespace {

// One argument as CommandLineToArgvW and the C runtime read it back:
// quoted when it holds a blank or a quote or is empty, backslashes doubled
// where a quote follows them.
std::wstring QuoteArgument(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) return argument;
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') {
      quoted.append(backslashes * 2 + 1, L'\\');
    } else {
      quoted.append(backslashes, L'\\');
    }
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');
  return quoted + L"\"";
}

bool Fail() {
  SetLastSystemError(static_cast<int>(GetLastError()));
  return false;
}

bool OpenWith(const std::wstring& file, const std::wstring& parameters) {
  HINSTANCE result = ShellExecuteW(nullptr, L"open", file.c_str(), parameters.empty() ? nullptr : parameters.c_str(),
                                   nullptr, SW_SHOWNORMAL);
  // Values above 32 are success; below, the old error numbers of the call.
  if (reinterpret_cast<intptr_t>(result) > 32) return true;
  SetLastSystemError(static_cast<int>(reinterpret_cast<intptr_t>(result)));
  return false;
}

}  // namespace

int CurrentProcessId() { return static_cast<int>(GetCurrentProcessId()); }

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(win32::Narrow(wide[i], wcslen(wide[i])));
  LocalFree(wide);
  return arguments;
}

void StandardStreamsAsBytes() {
  std::fflush(stdout);
  std::fflush(stderr);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

void ProcessEndNow(int exitCode) {
  std::fflush(nullptr);
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exitCode));
  ExitProcess(static_cast<UINT>(exitCode));  // not reached
}

// Windows has no signal for a vanished reader: the write fails by itself.
void IgnoreBrokenPipes() {}

bool ProcessStart(const std::string& executable, const std::vector<std::string>& arguments) {
  std::wstring command = QuoteArgument(win32::Wide(executable));
  for (const std::string& argument : arguments) command += L" " + QuoteArgument(win32::Wide(argument));
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  // A group of its own, so that a Ctrl+C in our console does not end it.
  if (!CreateProcessW(win32::Wide(executable).c_str(), command.data(), nullptr, nullptr, FALSE,
                      CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &startup, &started)) {
    return Fail();
  }
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
  return true;
}

bool ShellOpen(const std::string& pathOrAddress) { return OpenWith(win32::Wide(pathOrAddress), std::wstring()); }

bool OpenInTextEditor(const std::string& path) { return OpenWith(L"notepad.exe", QuoteArgument(win32::Wide(path))); }

}  // namespace platform
