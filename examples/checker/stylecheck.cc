// trelvik-stylecheck: a small example checker. It reads every file under the
// folder named by WORKDIR and reports tabs, trailing blanks and lines longer
// than 100 characters as "<full path>:<line>: <message>" on standard error.
// Exit code 1 when it found a fault, 0 when the files are clean, 2 when
// WORKDIR is not set.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kLongestLine = 100;

int check_file(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  int faults = 0;
  int number = 0;
  auto report = [&](const char *message) {
    std::fprintf(stderr, "%s:%d: %s\n", path.string().c_str(), number, message);
    ++faults;
  };
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (line.find('\t') != std::string::npos)
      report("tab character");
    if (!line.empty() && line.back() == ' ')
      report("trailing blank");
    if (line.size() > kLongestLine)
      report("line longer than 100 characters");
  }
  return faults;
}

} // namespace

int main() {
  const char *workdir = std::getenv("WORKDIR");
  if (workdir == nullptr) {
    std::fprintf(stderr, "trelvik-stylecheck: WORKDIR is not set\n");
    return 2;
  }
  std::vector<fs::path> files;
  std::error_code error;
  for (fs::recursive_directory_iterator it(workdir, error), end; !error && it != end;
       it.increment(error)) {
    if (it->is_regular_file())
      files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  int faults = 0;
  for (const fs::path &file : files)
    faults += check_file(file);
  std::printf("trelvik-stylecheck: %zu files checked, %d faults\n", files.size(), faults);
  return faults > 0 ? 1 : 0;
}
