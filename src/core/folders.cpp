// The client's folders (see folders.h). Set by the start-up and the new-day
// check on the user-interface thread, read from every thread.
#include "core/folders.h"

#include <mutex>

#include "platform/paths.h"

namespace core {

namespace {
std::mutex foldersMutex;
std::string programFolder;     // guarded by foldersMutex
std::string workingDayFolder;  // guarded by foldersMutex
}  // namespace

void SetProgramFolder(const std::string& folder) {
  std::lock_guard<std::mutex> lock(foldersMutex);
  programFolder = folder;
}

void SetWorkingDayFolder(const std::string& folder) {
  std::lock_guard<std::mutex> lock(foldersMutex);
  workingDayFolder = folder;
}

std::string ProgramFolder() {
  std::lock_guard<std::mutex> lock(foldersMutex);
  return programFolder;
}

std::string DocumentsFolder() { return ProgramFolder() + "documents" + platform::kPathSeparator; }

std::string WorkingFolder() { return ProgramFolder() + "working" + platform::kPathSeparator; }

std::string WorkingDayFolder() {
  std::lock_guard<std::mutex> lock(foldersMutex);
  return workingDayFolder;
}

}  // namespace core
