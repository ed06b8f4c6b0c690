// Runs a fuzz target's oracles over every file of the folders named on the
// command line, in name order, without libFuzzer: the seed corpus becomes
// an ordinary test of the normal build. An oracle that disagrees aborts the
// run; the name printed last is the input that did it.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

int main(int argc, char **argv) {
  std::size_t replayed = 0;
  for (int i = 1; i < argc; ++i) {
    std::vector<std::filesystem::path> inputs;
    std::error_code error;
    for (std::filesystem::directory_iterator it(argv[i], error), end; !error && it != end;
         it.increment(error))
      inputs.push_back(it->path());
    std::sort(inputs.begin(), inputs.end());
    for (const std::filesystem::path &path : inputs) {
      std::fprintf(stderr, "%s\n", path.filename().string().c_str());
      std::ifstream in(path, std::ios::binary);
      std::string data((std::istreambuf_iterator<char>(in)), {});
      LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(data.data()), data.size());
      ++replayed;
    }
  }
  std::printf("%zu inputs replayed\n", replayed);
  return replayed == 0 ? 1 : 0; // a missing or empty corpus proves nothing
}
