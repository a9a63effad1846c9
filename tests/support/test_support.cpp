// Helpers shared by the tests (see test_support.h).
#include "test_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <vector>
#include <algorithm>
#include <chrono>
#include <thread>
#include <cstdio>
#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace fs = std::filesystem;

namespace test_support {

TempFolder::TempFolder() {
  std::random_device random;
  fs::path base = fs::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = base / ("tsr-test-" + std::to_string(random()));
    if (fs::create_directory(candidate)) {
      path = candidate.string() + static_cast<char>(fs::path::preferred_separator);
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TempFolder::~TempFolder() {
  // A program that ran from the folder on Windows keeps its file until its
  // process has gone, a moment after it has done its work: try again then.
  // (A folder that stays for another reason, the log's file still open
  // under Wine, is not waited for.)
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::error_code ignored;
    // Tests make folders read-only; give write access back before removing.
    std::vector<fs::path> inside;
    for (auto it = fs::recursive_directory_iterator(path, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
      inside.push_back(it->path());
    }
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ignored);
    // Deepest first, one by one: remove_all of the Windows runtime never
    // returns while a file in the tree is still open (the log's, say).
    bool fileKept = false;
    for (auto it = inside.rbegin(); it != inside.rend(); ++it) {
      if (!fs::remove(*it, ignored) && fs::is_regular_file(*it, ignored)) fileKept = true;
    }
    fs::remove(path, ignored);
#ifdef _WIN32
    if (!fileKept) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
#else
    (void)fileKept;
    return;
#endif
  }
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::vector<std::string> ListTree(const std::string& folder) {
  std::vector<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    std::string relative = fs::relative(entry.path(), folder).string();
    if (entry.is_directory()) relative += "/";
    files.push_back(relative);
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string BuiltProgram(const std::string& relativePath) {
  const char* binaryDir = std::getenv("TESSARIN_BINARY_DIR");
  if (binaryDir == nullptr) throw std::runtime_error("TESSARIN_BINARY_DIR is not set");
  return std::string(binaryDir) + "/" + relativePath;
}

ToolRun RunTool(const std::string& arguments) {
  ToolRun run{-1, ""};
#ifdef _WIN32
  std::string command = BuiltProgram("tools/tsr-tool/tsr-tool.exe") + " " + arguments + " 2>NUL";
  std::FILE* pipe = _popen(command.c_str(), "rb");
#else
  std::string command = BuiltProgram("tools/tsr-tool/tsr-tool") + " " + arguments + " 2>/dev/null";
  std::FILE* pipe = popen(command.c_str(), "r");
#endif
  if (pipe == nullptr) return run;
  char buffer[512];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) run.output.append(buffer, got);
#ifdef _WIN32
  run.exitCode = _pclose(pipe);
#else
  int status = pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
  return run;
}

int OpenDescriptorCount() {
  int count = 0;
  for (auto it = fs::directory_iterator("/proc/self/fd"); it != fs::directory_iterator(); ++it) ++count;
  return count - 1;
}

#ifdef _WIN32
void SetVariable(const char* name, const char* value) { _putenv_s(name, value); }
void UnsetVariable(const char* name) { _putenv_s(name, ""); }
#else
void SetVariable(const char* name, const char* value) { setenv(name, value, 1); }
void UnsetVariable(const char* name) { unsetenv(name); }
#endif

namespace {

// The variable the system's temporary folder is read from: GetTempPath
// reads TMP on Windows.
#ifdef _WIN32
const char kTempVariable[] = "TMP";
#else
const char kTempVariable[] = "TMPDIR";
#endif

}  // namespace

ScopedLogFolder::ScopedLogFolder() {
  const char* old = std::getenv(kTempVariable);
  hadSaved = old != nullptr;
  if (hadSaved) saved = old;
  SetVariable(kTempVariable, folder.path.c_str());
}

ScopedLogFolder::~ScopedLogFolder() {
  if (hadSaved) {
    SetVariable(kTempVariable, saved.c_str());
  } else {
    UnsetVariable(kTempVariable);
  }
}

}  // namespace test_support
