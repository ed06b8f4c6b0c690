// The staging copy of 10,000 files, three ways in the same run, each into a
// destination tree that does not exist yet (removed again outside the timing):
//   StageFiles  - the gate's own staging step (StagingFolder::create and
//                 stage_files, every version selected);
//   CpParents   - "cp --parents" with all the files on one command line;
//   PlainLoop   - open, read 64 KiB, write, close for each file, with the
//                 missing folders made once each: the least a copy can do
//                 with ordinary calls.
// The tree lives below TMPDIR (run it with TMPDIR=/dev/shm: creating files
// on a disk file system costs more than everything measured here). Files
// are 0.5 to 16.5 KiB of text in 200 folders three levels deep.
//
//   TMPDIR=/dev/shm build/native/bench/staging_bench
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unordered_set>
#include <vector>

#include "common/commit.h"
#include "patterns/patterns.h"
#include "staging/staging.h"

extern char **environ;

namespace {

namespace fs = std::filesystem;

constexpr int kFileCount = 10000;

std::string backslashed(std::string path) {
  for (char &c : path)
    c = c == '/' ? '\\' : c;
  return path;
}

// The source tree and the names of its files, made once.
struct SourceTree {
  fs::path root;
  fs::path sources;
  std::vector<std::string> relative; // with slashes
  SourceTree() {
    root = fs::temp_directory_path() / ("trelvik-staging-bench-" + std::to_string(getpid()));
    sources = root / "src";
    std::string text;
    while (text.size() < 17 * 1024)
      text += "static int value_of_something(int x) { return x * 31 + 7; }\n";
    for (int i = 0; i < kFileCount; ++i) {
      std::string name = "module" + std::to_string(i % 20) + "/pkg" + std::to_string(i % 10) +
                         "/sub/File" + std::to_string(i) + ".c";
      fs::create_directories((sources / name).parent_path());
      std::ofstream(sources / name, std::ios::binary)
          .write(text.data(), 512 + (i * 7919) % (16 * 1024));
      relative.push_back(name);
    }
    fs::create_directories(root / "temp");
  }
  ~SourceTree() {
    std::error_code error;
    fs::remove_all(root, error);
  }
  fs::path destination() const { return root / "dest"; }
};

const SourceTree &tree() {
  static const SourceTree made;
  return made;
}

void remove_tree(benchmark::State &state, const fs::path &path) {
  state.PauseTiming();
  std::error_code error;
  fs::remove_all(path, error);
  state.ResumeTiming();
}

void report(benchmark::State &state) {
  state.SetItemsProcessed(state.iterations() * kFileCount);
}

void BM_StageFiles(benchmark::State &state) {
  const SourceTree &source = tree();
  setenv("TEMP", (source.root / "temp").c_str(), 1);
  PatternList none;
  for (auto _ : state) {
    state.PauseTiming();
    VersionTable versions;
    versions.reserve(kFileCount);
    for (const std::string &name : source.relative)
      versions.push_back(VersionEntry{backslashed("\\" + name),
                                      backslashed((source.sources / name).string()), std::nullopt});
    StagingFolder staging;
    state.ResumeTiming();
    if (staging.create() != Outcome::Done ||
        staging.stage_files(versions, none, none).copied != kFileCount)
      state.SkipWithError("staging failed");
    state.PauseTiming();
    staging.remove();
    std::error_code error;
    fs::remove_all(source.root / "temp", error);
    fs::create_directories(source.root / "temp");
    state.ResumeTiming();
  }
  report(state);
}

void BM_CpParents(benchmark::State &state) {
  const SourceTree &source = tree();
  std::string destination = source.destination().string();
  std::vector<std::string> argv = {"cp", "--parents"};
  argv.insert(argv.end(), source.relative.begin(), source.relative.end());
  argv.push_back(destination);
  std::vector<char *> raw;
  for (std::string &argument : argv)
    raw.push_back(argument.data());
  raw.push_back(nullptr);
  for (auto _ : state) {
    fs::create_directory(destination);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, source.sources.c_str());
    pid_t pid = 0;
    int status = -1;
    if (posix_spawnp(&pid, "cp", &actions, nullptr, raw.data(), environ) == 0)
      waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    if (status != 0)
      state.SkipWithError("cp failed");
    remove_tree(state, destination);
  }
  report(state);
}

bool copy_plainly(const std::string &from, const std::string &to, std::vector<char> &buffer) {
  int in = open(from.c_str(), O_RDONLY);
  if (in < 0)
    return false;
  int out = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  bool good = out >= 0;
  ssize_t got = 0;
  while (good && (got = read(in, buffer.data(), buffer.size())) > 0)
    good = write(out, buffer.data(), static_cast<std::size_t>(got)) == got;
  good = good && got == 0;
  if (out >= 0)
    good = close(out) == 0 && good;
  close(in);
  return good;
}

void BM_PlainLoop(benchmark::State &state) {
  const SourceTree &source = tree();
  std::string from_root = source.sources.string() + "/";
  std::string to_root = source.destination().string() + "/";
  std::vector<char> buffer(64 * 1024);
  for (auto _ : state) {
    std::unordered_set<std::string> made;
    bool good = true;
    for (const std::string &name : source.relative) {
      std::string to = to_root + name;
      std::string folder = to.substr(0, to.rfind('/'));
      if (made.insert(folder).second)
        fs::create_directories(folder);
      good = copy_plainly(from_root + name, to, buffer) && good;
    }
    if (!good)
      state.SkipWithError("a copy failed");
    remove_tree(state, source.destination());
  }
  report(state);
}

BENCHMARK(BM_StageFiles)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_CpParents)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_PlainLoop)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

} // namespace

BENCHMARK_MAIN();
