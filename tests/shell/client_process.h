// The real client program run as a process by the tests: its program
// folder, its environment, a pipe to its console input, its console output
// in a file.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace shell_test {

struct ClientProcess {
  pid_t pid = -1;
  int input = -1;       // write end of its stdin
  std::string output;   // file that receives its stdout and stderr
  bool closedOutput = false;  // stdout and stderr a pipe nobody reads instead

  // Starts folder + "Tessarin" with TMPDIR=temp, XDG_CONFIG_HOME=temp +
  // "config" and the extra variables.
  void Start(const std::string& folder, const std::string& temp,
             const std::vector<std::pair<std::string, std::string>>& environment = {});

  // Types a command line on its console.
  void Type(const std::string& line);

  // Exit code, or -1 when it does not end within the time.
  int Wait(int seconds = 10);
  bool Running();
  int Stop();  // SIGTERM, then Wait
  ~ClientProcess();

  std::string Console() const;
  // Waits until the console holds the text `count` times; false on timeout.
  bool WaitForConsole(const std::string& text, int seconds = 20, int count = 1) const;
};

}  // namespace shell_test
