// Relay throughput: about 1 GiB of 80-byte lines from a child, relayed to
// /dev/null five ways in the same run:
//   Execute      - through execute and its pumps (no strip), which write
//                  and flush every chunk and its newline at once;
//   WriteLoop    - reads of at most 1,024 bytes from the child's pipe and
//                  one write call per read (the bytes and a newline): the
//                  least any relay can do that keeps those reads and gets
//                  every chunk into the file at once, the fair floor;
//   BufferedLoop - the same reads, each written with its newline into the
//                  C runtime's buffer, flushed only at the end: what the
//                  loop costs when chunks may wait in the buffer;
//   CatRelay     - the shell pipeline "<generator> | cat > /dev/null";
//   CatCatRelay  - "<generator> | cat | cat > /dev/null": two relays, each
//                  with pipes on both sides.
// Each runs five times, interleaved by the script; the summary line compares
// the best run of each, the one least disturbed by other work on the machine.
// Standard output goes to /dev/null for the whole run (through the C
// runtime's own stream, as the gate's output does); the report goes to
// standard error.
//
// The generator is the tests' fake checker: TRELVIK_FAKE_CHECKER_PATH, or
// ../tests/fake-checker next to this program.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

#include "runner/runner.h"

namespace {

constexpr std::uint64_t kLineBytes = 80;
constexpr std::uint64_t kLines = ((std::uint64_t{1} << 30) + kLineBytes - 1) / kLineBytes;
constexpr std::uint64_t kTotalBytes = kLines * kLineBytes;

double g_best_execute = 0;
double g_best_cat = 0;
double g_best_cat_cat = 0;
double g_best_write_loop = 0;
double g_best_buffered_loop = 0;

std::string generator_path() {
  if (const char *path = std::getenv("TRELVIK_FAKE_CHECKER_PATH"))
    return path;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
  return (self.parent_path().parent_path() / "tests" / "fake-checker").string();
}

// The generator's command line: kLines lines of 79 characters and a LF.
std::string generator_command() {
  std::string line;
  while (line.size() < kLineBytes - 1)
    line += "0123456789abcdefghijklmnopqrstuvwxyz";
  line.resize(kLineBytes - 1);
  return "\"" + generator_path() + "\" repeat:" + std::to_string(kLines) + ":" + line + "\\n";
}

void record(benchmark::State &state, double seconds, double *best) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTotalBytes));
  double mb_per_second = static_cast<double>(kTotalBytes) / 1e6 / seconds;
  *best = std::max(*best, mb_per_second);
  state.counters["MB/s"] = mb_per_second;
}

// CPU seconds (user and system) used so far by this process, all threads,
// or by its waited-for children.
double cpu_seconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  auto seconds = [](const timeval &t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Adds the CPU time of the relay itself and of the child programs, which
// the load of a shared machine disturbs less than the wall-clock time.
class CpuMeter {
public:
  CpuMeter() : self_(cpu_seconds(RUSAGE_SELF)), children_(cpu_seconds(RUSAGE_CHILDREN)) {}
  void report(benchmark::State &state) const {
    state.counters["relay_cpu_s"] = cpu_seconds(RUSAGE_SELF) - self_;
    state.counters["children_cpu_s"] = cpu_seconds(RUSAGE_CHILDREN) - children_;
  }

private:
  double self_;
  double children_;
};

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_Execute(benchmark::State &state) {
  const std::string command = generator_command();
  CpuMeter meter;
  double seconds = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    StreamPrinter out(stdout), err(stderr);
    CheckerStart checker;
    checker.command = command.c_str();
    checker.out = &out;
    checker.err = &err;
    CheckerRun run = execute(checker);
    std::fflush(stdout);
    seconds += seconds_since(start);
    if (run.outcome != Outcome::Done || run.exit_code != 0u ||
        run.counters.stdout_bytes != kTotalBytes)
      state.SkipWithError("the relay did not carry every byte");
  }
  meter.report(state);
  record(state, seconds / static_cast<double>(state.iterations()), &g_best_execute);
}

void run_pipeline(benchmark::State &state, const std::string &pipeline, double *best) {
  CpuMeter meter;
  double seconds = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    int status = std::system(pipeline.c_str());
    seconds += seconds_since(start);
    if (status != 0)
      state.SkipWithError("the pipeline failed");
  }
  meter.report(state);
  record(state, seconds / static_cast<double>(state.iterations()), best);
}

void BM_CatRelay(benchmark::State &state) {
  run_pipeline(state, generator_command() + " | cat > /dev/null", &g_best_cat);
}

void BM_CatCatRelay(benchmark::State &state) {
  run_pipeline(state, generator_command() + " | cat | cat > /dev/null", &g_best_cat_cat);
}

// Relays the generator's output with reads of at most 1,024 bytes, each
// handed with a newline to WRITE_CHUNK.
template <typename WriteChunk>
void run_loop(benchmark::State &state, WriteChunk write_chunk, double *best) {
  const std::string command = generator_command();
  CpuMeter meter;
  double seconds = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    FILE *child = popen(command.c_str(), "r");
    if (child == nullptr) {
      state.SkipWithError("cannot start the generator");
      break;
    }
    int fd = fileno(child);
    char buffer[1025];
    std::uint64_t total = 0;
    ssize_t got;
    while ((got = read(fd, buffer, 1024)) > 0) {
      buffer[got] = '\n';
      write_chunk(buffer, static_cast<std::size_t>(got) + 1);
      total += static_cast<std::uint64_t>(got);
    }
    pclose(child);
    std::fflush(stdout);
    seconds += seconds_since(start);
    if (total != kTotalBytes)
      state.SkipWithError("the loop did not read every byte");
  }
  meter.report(state);
  record(state, seconds / static_cast<double>(state.iterations()), best);
}

void BM_WriteLoop(benchmark::State &state) {
  run_loop(
      state,
      [](const char *bytes, std::size_t length) {
        if (write(STDOUT_FILENO, bytes, length) != static_cast<ssize_t>(length))
          std::abort();
      },
      &g_best_write_loop);
}

void BM_BufferedLoop(benchmark::State &state) {
  // Fully buffered, with the buffer the C runtime gives a file here (4 KiB
  // on Linux), whatever execute chose for standard output before.
  static char buffer[4096];
  std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
  run_loop(
      state, [](const char *bytes, std::size_t length) { std::fwrite(bytes, 1, length, stdout); },
      &g_best_buffered_loop);
}

BENCHMARK(BM_Execute)->Iterations(1)->Repetitions(5)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CatRelay)->Iterations(1)->Repetitions(5)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CatCatRelay)
    ->Iterations(1)
    ->Repetitions(5)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteLoop)
    ->Iterations(1)
    ->Repetitions(5)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BufferedLoop)
    ->Iterations(1)
    ->Repetitions(5)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
  // Everything printed on standard output is thrown away, with the stream's
  // buffering chosen for /dev/null as for any file.
  if (std::freopen("/dev/null", "w", stdout) == nullptr)
    return 1;
  benchmark::Initialize(&argc, argv);
  benchmark::ConsoleReporter reporter;
  reporter.SetOutputStream(&std::cerr);
  reporter.SetErrorStream(&std::cerr);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  if (g_best_write_loop > 0 && g_best_buffered_loop > 0) {
    std::fprintf(stderr,
                 "best MB/s: execute %.0f, write loop %.0f, buffered loop %.0f, cat relay %.0f, "
                 "cat | cat relay %.0f; execute reaches %.1f%% of the write loop (goal 90%%) "
                 "and %.1f%% of the buffered loop\n",
                 g_best_execute, g_best_write_loop, g_best_buffered_loop, g_best_cat,
                 g_best_cat_cat, 100.0 * g_best_execute / g_best_write_loop,
                 100.0 * g_best_execute / g_best_buffered_loop);
  }
  return 0;
}
