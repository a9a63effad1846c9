// Replays a fuzz target's corpus: every file of the folders given on the
// command line goes through LLVMFuzzerTestOneInput once. CTest runs this in
// every build, the sanitizer builds included, so that each input that once
// found a fault keeps being checked.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  size_t files = 0;
  for (int i = 1; i < argc; ++i) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(argv[i])) {
      if (!entry.is_regular_file()) continue;
      std::ifstream in(entry.path(), std::ios::binary);
      std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), {});
      LLVMFuzzerTestOneInput(data.data(), data.size());
      ++files;
    }
  }
  std::printf("replayed %zu inputs\n", files);
  return files > 0 ? 0 : 1;
}
