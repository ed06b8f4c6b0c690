// The gate's own cost: whole runs of the trelvik binary over commits of 10,
// 1,000 and 10,000 files with a checker that does nothing, next to starting
// that checker directly. The difference is the gate's overhead; divided by
// the file count it is the cost per file.
//
//   build/native/bench/gate_bench
//
// The binaries are found beside this program's build folder.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char **environ;

namespace fs = std::filesystem;

namespace {

fs::path build_folder() {
  return fs::canonical("/proc/self/exe").parent_path().parent_path();
}

// Taken once, before the benchmarks point TEMP at their own folders.
const fs::path &scratch_root() {
  static const fs::path root = fs::temp_directory_path();
  return root;
}

// Runs ARGV with standard input from INPUT (or /dev/null) and both outputs to
// /dev/null; returns the exit status.
int run(std::vector<std::string> argv, const std::string &input) {
  std::vector<char *> raw;
  for (std::string &argument : argv)
    raw.push_back(argument.data());
  raw.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, input.empty() ? "/dev/null" : input.c_str(),
                                   O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  int status = -1;
  if (posix_spawn(&pid, raw[0], &actions, nullptr, raw.data(), environ) == 0)
    waitpid(pid, &status, 0);
  posix_spawn_file_actions_destroy(&actions);
  return status;
}

// A workspace of COUNT small files and the protocol that commits them.
struct Commit {
  fs::path root;
  std::string input;
  explicit Commit(int count) {
    root = scratch_root() /
           ("trelvik-gate-bench-" + std::to_string(getpid()) + "-" + std::to_string(count));
    fs::create_directories(root / "temp");
    std::string protocol =
        "clientpath: ws\n" + (build_folder() / "tests/fake-checker").string() + "\n";
    for (int i = 0; i < count; ++i) {
      fs::path folder = root / "ws" / ("module" + std::to_string(i % 50)) / "src";
      fs::create_directories(folder);
      fs::path file = folder / ("File" + std::to_string(i) + ".java");
      std::ofstream(file) << "class File" << i << " {}\n";
      std::string backslashed = file.string();
      for (char &c : backslashed)
        c = c == '/' ? '\\' : c;
      protocol += "ws\\\\" + backslashed + "\n\\depot\\module" + std::to_string(i % 50) +
                  "\\src\\File" + std::to_string(i) + ".java\n";
    }
    input = (root / "input.txt").string();
    std::ofstream(input) << protocol;
  }
  ~Commit() {
    std::error_code error;
    fs::remove_all(root, error);
  }
};

void BM_Gate(benchmark::State &state) {
  Commit commit(static_cast<int>(state.range(0)));
  setenv("TEMP", (commit.root / "temp").c_str(), 1);
  std::string gate = (build_folder() / "trelvik").string();
  for (auto _ : state) {
    int status = run({gate, "-s", "-e", "**/*.java", "-x", "**/test/**"}, commit.input);
    if (status != 0)
      state.SkipWithError("the gate failed");
  }
  state.counters["files"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_Gate)->Arg(10)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_CheckerAlone(benchmark::State &state) {
  std::string checker = (build_folder() / "tests/fake-checker").string();
  for (auto _ : state)
    run({checker}, "");
}
BENCHMARK(BM_CheckerAlone)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv) {
  static_cast<void>(scratch_root());
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
