// Helpers shared by the tests: fresh folders, whole-file reading and
// writing, the program binaries of the build.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace test_support {

// A new empty folder under the system's temporary folder, removed with
// everything in it when the object goes. path ends with the system's separator.
struct TempFolder {
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  std::string path;  // the folder, ending with '/'
};

std::vector<uint8_t> ReadBytes(const std::string& path);
std::string ReadText(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
void WriteText(const std::string& path, const std::string& text);

// Files of a folder tree, relative to it, sorted.
std::vector<std::string> ListTree(const std::string& folder);

// Path of a program built by this build (e.g. "src/shell/Tessarin"),
// taken from TESSARIN_BINARY_DIR that CTest sets.
std::string BuiltProgram(const std::string& relativePath);

// A run of tsr-tool with the arguments: its exit code (-1 when it did not
// end normally) and what it printed on stdout.
struct ToolRun {
  int exitCode;        // the tool's exit code
  std::string output;  // what it printed to stdout
};
ToolRun RunTool(const std::string& arguments);

// Descriptors this process has open now (the entries of /proc/self/fd,
// less the one that lists them).
int OpenDescriptorCount();

// Sets or removes an environment variable of this process (the runtime's
// copy, which getenv reads, on Windows too).
void SetVariable(const char* name, const char* value);
void UnsetVariable(const char* name);

// Points the log (TMPDIR, TMP on Windows) at a fresh folder for the life of the object and
// puts the old value back afterwards.
struct ScopedLogFolder {
  ScopedLogFolder();
  ~ScopedLogFolder();
  TempFolder folder;   // the new temporary folder
  std::string saved;   // the variable before
  bool hadSaved;       // whether it was set before
};

}  // namespace test_support
