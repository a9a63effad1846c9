// The subcommands of tsr-tool, the support command line, and the helpers
// they share. main.cpp dispatches by the first argument through the table
// of Command rows; a new subcommand is a command_<name>.cpp file with its
// Run function and one row in that table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tsr_tool {

// Exit codes of every subcommand.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;  // the work could not be done (unreadable file, bad stream)
constexpr int kExitUsage = 2;    // the arguments were wrong

// A subcommand: its arguments are those after its name.
struct Command {
  const char* name;     // first argument that selects it
  const char* usage;    // arguments after the name, for the usage text
  const char* summary;  // one line on what it does
  int (*run)(const Command& self, const std::vector<std::string>& args);  // the work; an exit code
};

int RunLzari(const Command& self, const std::vector<std::string>& args);
int RunXtea(const Command& self, const std::vector<std::string>& args);
int RunSha512(const Command& self, const std::vector<std::string>& args);
int RunFrame(const Command& self, const std::vector<std::string>& args);
int RunSettings(const Command& self, const std::vector<std::string>& args);
int RunExchange(const Command& self, const std::vector<std::string>& args);
int RunRequest(const Command& self, const std::vector<std::string>& args);
int RunAnswers(const Command& self, const std::vector<std::string>& args);
int RunDoctor(const Command& self, const std::vector<std::string>& args);

// Prints "usage: tsr-tool <name> <usage>" to stderr and returns kExitUsage.
int UsageError(const Command& self, const std::string& problem);

// Whole-file reading and writing; on failure print what failed with the
// system's code to stderr and return false.
bool ReadInput(const std::string& path, std::vector<uint8_t>* data);
bool WriteOutput(const std::string& path, const std::vector<uint8_t>& data);

}  // namespace tsr_tool
