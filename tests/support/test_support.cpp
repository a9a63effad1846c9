// Helpers shared by the tests (see test_support.h).
#include "test_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <algorithm>
#include <cstdio>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace test_support {

TempFolder::TempFolder() {
  std::random_device random;
  fs::path base = fs::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path candidate = base / ("tsr-test-" + std::to_string(random()));
    if (fs::create_directory(candidate)) {
      path = candidate.string() + "/";
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  // Tests make folders read-only; give write access back before removing.
  for (auto it = fs::recursive_directory_iterator(path, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path, ignored);
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
  std::string command = BuiltProgram("tools/tsr-tool/tsr-tool") + " " + arguments + " 2>/dev/null";
  ToolRun run{-1, ""};
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[512];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) run.output.append(buffer, got);
  int status = pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

int OpenDescriptorCount() {
  int count = 0;
  for (auto it = fs::directory_iterator("/proc/self/fd"); it != fs::directory_iterator(); ++it) ++count;
  return count - 1;
}

ScopedLogFolder::ScopedLogFolder() {
  const char* old = std::getenv("TMPDIR");
  hadSaved = old != nullptr;
  if (hadSaved) saved = old;
  setenv("TMPDIR", folder.path.c_str(), 1);
}

ScopedLogFolder::~ScopedLogFolder() {
  if (hadSaved) {
    setenv("TMPDIR", saved.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
}

}  // namespace test_support
