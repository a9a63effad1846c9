// Processes on Linux: starting programs with posix_spawn (with a clean
// signal state), ending this one at once, ignoring SIGPIPE, and opening
// documents. Called by the
// client, the updater and the document viewer.
#include "platform/process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/error.h"

extern char** environ;

namespace platform {

namespace {

// Starts a program; with `wait` the caller waits for its exit code.
bool Spawn(const std::string& executable, const std::vector<std::string>& arguments, bool detach,
           bool searchPath, int* exitCode) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(executable.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // The client blocks SIGINT, SIGTERM and SIGUSR1 for its signal thread and
  // ignores SIGPIPE; a child would inherit both and could then be neither
  // stopped nor told that its reader went away.
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  sigset_t all;
  sigfillset(&all);
  posix_spawnattr_setsigdefault(&attributes, &all);
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  // A session of its own, so that it outlives us and our terminal.
  if (detach) flags |= POSIX_SPAWN_SETSID;
  posix_spawnattr_setflags(&attributes, flags);
  pid_t pid = 0;
  int error = searchPath ? posix_spawnp(&pid, executable.c_str(), nullptr, &attributes, argv.data(), environ)
                         : posix_spawn(&pid, executable.c_str(), nullptr, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  if (error != 0) {
    SetLastSystemError(error);
    return false;
  }
  if (exitCode != nullptr) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  return true;
}

bool CommandExists(const char* name) {
  int exitCode = -1;
  return Spawn("sh", {"-c", std::string("command -v ") + name + " >/dev/null 2>&1"}, false, true, &exitCode) &&
         exitCode == 0;
}

}  // namespace

int CurrentProcessId() { return static_cast<int>(getpid()); }

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

void StandardStreamsAsBytes() {}

void ProcessEndNow(int exitCode) {
  std::fflush(nullptr);
  _exit(exitCode);
}

void IgnoreBrokenPipes() { signal(SIGPIPE, SIG_IGN); }

bool ProcessStart(const std::string& executable, const std::vector<std::string>& arguments) {
  return Spawn(executable, arguments, true, false, nullptr);
}

bool ShellOpen(const std::string& pathOrAddress) {
  if (CommandExists("xdg-open")) return Spawn("xdg-open", {pathOrAddress}, true, true, nullptr);
  std::printf("%s\n", pathOrAddress.c_str());
  std::fflush(stdout);
  return true;
}

bool OpenInTextEditor(const std::string& path) {
  const char* editor = std::getenv("EDITOR");
  if (editor != nullptr && editor[0] != '\0') return Spawn(editor, {path}, true, true, nullptr);
  return ShellOpen(path);
}

}  // namespace platform
