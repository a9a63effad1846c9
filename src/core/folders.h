// The client's folders, found at start-up and shared by every subsystem.
// Each ends with the path separator.
//
//   ProgramFolder     the folder of the running executable
//   DocumentsFolder   ProgramFolder + "documents/"  (saved documents)
//   WorkingFolder     ProgramFolder + "working/"    (claimed requests)
//   WorkingDayFolder  WorkingFolder + "yyyymmdd/"   (the day's archive; renewed each new day)
#pragma once

#include <string>

namespace core {

// Sets ProgramFolder and the two folders below it.
void SetProgramFolder(const std::string& folder);
void SetWorkingDayFolder(const std::string& folder);

std::string ProgramFolder();
std::string DocumentsFolder();
std::string WorkingFolder();
std::string WorkingDayFolder();

}  // namespace core
