// A stand-in for the client in the updater's tests on Windows, where the
// program folder must hold real programs rather than scripts. The test
// copies this program under the client's names and appends a last line
// that says which one it is: "stand-in client <name> <flags>", where flag
// 's' writes the start marker as a real client does, and 'h' makes an old
// client that is still ending: it takes the instance lock of its folder and
// keeps it until a file "end" appears there.
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/file.h"
#include "platform/instance_lock.h"
#include "platform/paths.h"

int main() {
  const std::string self = platform::ExecutablePath();
  const std::string folder = platform::FolderOf(self);
  std::vector<uint8_t> bytes;
  if (!platform::ReadWholeFile(self, &bytes)) return 2;
  const std::string text(bytes.begin(), bytes.end());
  const std::string mark = "stand-in client ";
  size_t at = text.rfind(mark);
  if (at == std::string::npos) return 3;
  size_t blank = text.find(' ', at + mark.size());
  if (blank == std::string::npos) return 3;
  const std::string name = text.substr(at + mark.size(), blank - at - mark.size());
  const std::string flags = text.substr(blank + 1);

  if (flags.find('h') != std::string::npos) {
    while (platform::AcquireInstanceLock(folder) != platform::InstanceLock::Acquired) platform::SleepMs(1);
    for (int i = 0; i < 6000 && !platform::FileExists(folder + "end"); ++i) platform::SleepMs(10);
    return 0;
  }
  platform::File ran;
  if (platform::FileOpen(folder + "ran", platform::OpenMode::AppendAlways, &ran)) {
    const std::string line = name + "\n";
    platform::FileAppend(ran, line.data(), line.size());
    platform::FileClose(&ran);
  }
  if (flags.find('s') != std::string::npos) platform::WriteWholeFile(folder + "state.txt", "1234567", 7);
  return 0;
}
