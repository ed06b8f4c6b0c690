// Matcher throughput over real paths and growth on near-miss subjects.
//
// The corpus is built at start-up from the files under /usr (capped), each
// path turned into a version-style text with backslash separators, and is
// matched against the expressions that the Ant patterns of a typical gate
// translate to.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <limits>
#include <string>
#include <system_error>
#include <vector>

#include "path_corpus.h"
#include "regex/match_tuning.h"
#include "regex/regexp.h"

namespace {

constexpr std::size_t kCorpusCap = 200000;

const std::vector<std::string> &corpus() {
  static const std::vector<std::string> paths = build_path_corpus(kCorpusCap);
  return paths;
}

// ARG: which translated pattern.
const char *const kCorpusExpressions[] = {
    "^.*src\\\\.*[^\\]*\\.java$", // **/src/**/*.java
    "^.*[^\\]*\\.java$",          // **/*.java
    "^.*test\\\\.*$",             // **/test/**
    "^.*[^\\]*\\.h$",             // **/*.h: many matches in /usr
};

// ARG 0: which translated pattern; ARG 1: steps before failures are
// remembered (-1: the matcher's default).
void BM_CorpusPaths(benchmark::State &state) {
  const char *expression = kCorpusExpressions[state.range(0)];
  std::unique_ptr<Regexp> regexp = compile_regexp(expression);
  MatchTuning tuning;
  if (state.range(1) >= 0)
    tuning.memo_free_steps = static_cast<std::uint64_t>(state.range(1));
  const std::vector<std::string> &paths = corpus();
  std::size_t matches = 0;
  for (auto _ : state) {
    matches = 0;
    for (const std::string &path : paths)
      matches += static_cast<std::size_t>(
          execute_regexp_tuned(regexp.get(), path.c_str(), tuning, nullptr));
    benchmark::DoNotOptimize(matches);
  }
  state.SetLabel(expression);
  state.counters["paths"] = static_cast<double>(paths.size());
  state.counters["matches"] = static_cast<double>(matches);
  state.counters["per_path"] =
      benchmark::Counter(static_cast<double>(state.iterations() * paths.size()),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_CorpusPaths)->ArgsProduct({{0, 1, 2, 3}, {-1, 0}})->Unit(benchmark::kMillisecond);

// "**/a/**/b/**/c/**/d" against "a\b\c\a\b\c\..." of the given length: every
// segment almost matches and the final "d" never comes.
std::string near_miss(std::size_t length) {
  std::string text;
  while (text.size() < length)
    text += "a\\b\\c\\";
  text.resize(length);
  return text;
}

void run_near_miss(benchmark::State &state, std::uint64_t memo_free_steps, bool decide_first) {
  std::unique_ptr<Regexp> regexp = compile_regexp("^.*a\\\\.*b\\\\.*c\\\\.*d$");
  std::string subject = near_miss(static_cast<std::size_t>(state.range(0)));
  MatchTuning tuning;
  tuning.memo_free_steps = memo_free_steps;
  tuning.decide_first = decide_first;
  MatchStatistics statistics;
  for (auto _ : state) {
    statistics = MatchStatistics{};
    benchmark::DoNotOptimize(
        execute_regexp_tuned(regexp.get(), subject.c_str(), tuning, &statistics));
  }
  state.counters["steps"] = static_cast<double>(statistics.steps);
  state.counters["ns_per_char"] =
      benchmark::Counter(static_cast<double>(state.iterations() * subject.size()),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// As the matcher runs by default: the automaton settles the near miss.
void BM_NearMiss(benchmark::State &state) {
  run_near_miss(state, MatchTuning{}.memo_free_steps, true);
}
BENCHMARK(BM_NearMiss)->Arg(200)->Arg(500)->Arg(1000)->Arg(2000)->Arg(4000)->Arg(100000);

// The backtracking search alone, with its failure tables.
void BM_NearMissBacktracking(benchmark::State &state) {
  run_near_miss(state, MatchTuning{}.memo_free_steps, false);
}
BENCHMARK(BM_NearMissBacktracking)
    ->Arg(200)
    ->Arg(500)
    ->Arg(1000)
    ->Arg(2000)
    ->Arg(4000)
    ->Arg(100000);

// Backtracking alone with nothing remembered, as a recursive interpreter
// does.
void BM_NearMissPlainBacktracking(benchmark::State &state) {
  run_near_miss(state, std::numeric_limits<std::uint64_t>::max(), false);
}
BENCHMARK(BM_NearMissPlainBacktracking)
    ->Arg(200)
    ->Arg(500)
    ->Arg(1000)
    ->Arg(2000)
    ->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
