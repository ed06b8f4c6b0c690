// Runs a fuzz target's oracles over every file of the folder named on the
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
  std::vector<std::filesystem::path> inputs;
  std::error_code error;
  for (std::filesystem::directory_iterator it(argc > 1 ? argv[1] : "", error), end;
       !error && it != end; it.increment(error))
    inputs.push_back(it->path());
  std::sort(inputs.begin(), inputs.end());
  for (const std::filesystem::path &path : inputs) {
    std::fprintf(stderr, "%s\n", path.filename().string().c_str());
    std::ifstream in(path, std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(in)), {});
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(data.data()), data.size());
  }
  std::printf("%zu inputs replayed\n", inputs.size());
  return inputs.empty() ? 1 : 0; // a missing or empty corpus proves nothing
}
