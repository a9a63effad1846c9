// The client program as a process of the tests (see client_process.h).
#include "client_process.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "test_support.h"

namespace shell_test {

namespace {
int counter = 0;
}

void ClientProcess::Start(const std::string& folder, const std::string& temp,
                          const std::vector<std::pair<std::string, std::string>>& environment) {
  output = temp + "console-" + std::to_string(getpid()) + "-" + std::to_string(counter++) + ".txt";
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return;
  pid = fork();
  if (pid == 0) {
    setenv("TMPDIR", temp.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (temp + "config").c_str(), 1);  // its autostart entries stay in the test
    for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
    dup2(pipeEnds[0], 0);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    int closed[2];
    if (closedOutput && pipe(closed) == 0) {
      close(closed[0]);
      dup2(closed[1], 1);
      dup2(closed[1], 2);
    } else {
      FILE* out = freopen(output.c_str(), "w", stdout);
      dup2(fileno(out), 2);
    }
    std::string program = folder + "Tessarin";
    execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipeEnds[0]);
  input = pipeEnds[1];
}

void ClientProcess::Type(const std::string& line) {
  std::string text = line + "\n";
  if (input >= 0 && write(input, text.data(), text.size()) < 0) perror("write");
}

int ClientProcess::Wait(int seconds) {
  for (int i = 0; i < seconds * 100; ++i) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      pid = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

bool ClientProcess::Running() { return pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0; }

int ClientProcess::Stop() {
  if (pid <= 0) return -1;
  kill(pid, SIGTERM);
  return Wait();
}

ClientProcess::~ClientProcess() {
  if (input >= 0) close(input);
  if (pid > 0) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
}

std::string ClientProcess::Console() const { return test_support::ReadText(output); }

bool ClientProcess::WaitForConsole(const std::string& text, int seconds, int count) const {
  for (int i = 0; i < seconds * 50; ++i) {
    std::string console = Console();
    int found = 0;
    for (size_t at = console.find(text); at != std::string::npos; at = console.find(text, at + 1)) ++found;
    if (found >= count) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

}  // namespace shell_test
