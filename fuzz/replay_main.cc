// Replay driver: runs a fuzz target's entry point on files, without libFuzzer, so that any
// compiler (and a sanitizer build of the tests) can re-run the seed corpus and the kept
// regressions. Folders are walked recursively; a missing path is skipped with a note.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

int RunFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "replay: cannot open %s\n", path.c_str());
    return 1;
  }
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::fprintf(stderr, "replay: %s (%zu bytes)\n", path.c_str(), bytes.size());
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int failures = 0;
  int inputs = 0;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path root(argv[i]);
    std::error_code ec;
    if (std::filesystem::is_regular_file(root, ec)) {
      failures += RunFile(root);
      ++inputs;
      continue;
    }
    if (!std::filesystem::is_directory(root, ec)) {
      std::fprintf(stderr, "replay: %s does not exist, skipped\n", root.c_str());
      continue;
    }
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root, ec)) {
      if (entry.is_regular_file()) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
      failures += RunFile(file);
      ++inputs;
    }
  }
  std::fprintf(stderr, "replay: %d inputs run, %d could not be opened\n", inputs, failures);
  return failures == 0 ? 0 : 1;
}
