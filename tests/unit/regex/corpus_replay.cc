// Runs every file of a fuzz seed corpus through the fuzz target's entry
// point, linked in without libFuzzer, so that its oracles check the corpus
// on every test run; an oracle mismatch aborts with its reason.
//
//   regex_corpus_replay <corpus folder>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

int main(int argc, char **argv) {
  std::vector<std::filesystem::path> files;
  std::error_code error;
  if (argc == 2) {
    for (const auto &entry : std::filesystem::directory_iterator(argv[1], error))
      files.push_back(entry.path());
  }
  // A missing or empty folder would pass without checking anything.
  if (error || files.empty()) {
    std::fprintf(stderr, "usage: regex_corpus_replay <corpus folder with inputs>\n");
    return 1;
  }
  std::sort(files.begin(), files.end());
  for (const std::filesystem::path &file : files) {
    std::ifstream in(file, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::fprintf(stderr, "%s\n", file.filename().string().c_str());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size());
  }
  std::printf("%zu inputs replayed\n", files.size());
  return 0;
}
