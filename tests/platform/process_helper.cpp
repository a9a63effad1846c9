// A second process for the platform tests on Windows, started with
// ProcessStart where the Linux tests fork:
//   args <result> <argument>...     writes its own path and the arguments
//                                   it received, one per line, to <result>;
//   lock <first> <second> <result>  tries the instance locks of two program
//                                   folders and writes what it found.
// Text is UTF-8, the arguments as ProgramArguments gives them.
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/instance_lock.h"
#include "platform/paths.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  std::vector<std::string> args = platform::ProgramArguments(argc, argv);
  if (!args.empty()) args.erase(args.begin());  // its own name
  std::string out;
  if (args.size() >= 2 && args[0] == "args") {
    out = platform::ExecutablePath() + "\n";
    for (size_t i = 2; i < args.size(); ++i) out += args[i] + "\n";
  } else if (args.size() == 4 && args[0] == "lock") {
    bool firstHeld = platform::AcquireInstanceLock(args[1]) == platform::InstanceLock::HeldByAnother;
    bool secondTaken = platform::AcquireInstanceLock(args[2]) == platform::InstanceLock::Acquired;
    out = std::string(firstHeld ? "first held" : "first not held") + (secondTaken ? ", second taken" : ", second not taken");
  } else {
    return 2;
  }
  // Whole under its own name: the test never reads half of it.
  const std::string& result = args[1 + (args[0] == "lock" ? 2 : 0)];
  if (!platform::WriteWholeFile(result + ".part", out.data(), out.size())) return 1;
  return platform::FileMove(result + ".part", result) ? 0 : 1;
}
