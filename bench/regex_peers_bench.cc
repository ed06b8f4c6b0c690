// The matcher side by side with RE2 and PCRE2 (with and without its JIT), in
// one process on one corpus: the expressions that typical Ant patterns
// translate to, over real paths of this machine written as version texts,
// and the growth on near-miss and very long subjects. RE2 and PCRE2 are
// only linked into this program.
//
// Every engine gets the same expression text, anchored "^...$" as the
// gate's, with the escaping adapted where the peers read it differently,
// and options that give them the gate's meaning: bytes rather than UTF-8,
// "." matching every byte, "$" only at the very end. Before timing, the
// engines must agree on every path; a disagreement fails the benchmark.
//
// Per path and per character figures are counters (ns_per_path,
// ns_per_char); after the runs a summary prints each engine's median
// against RE2's, with the minimum and maximum over the repetitions.
#define PCRE2_CODE_UNIT_WIDTH 8
#include <benchmark/benchmark.h>
#include <pcre2.h>
#include <re2/re2.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "path_corpus.h"
#include "patterns/patterns.h"
#include "regex/regexp.h"

namespace {

constexpr std::size_t kCorpusSize = 100000;

const std::vector<std::string> &corpus() {
  static const std::vector<std::string> paths = build_path_corpus(kCorpusSize);
  return paths;
}

const char *const kCorpusPatterns[] = {"**/src/**/*.java", "**/*.java", "**/test/**", "/src/*.c",
                                       "**/*Test*.java"};
constexpr int kCorpusPatternCount = 5;

// The gate's expression text in the peers' syntax: they read a backslash
// inside a bracket class as an escape, the gate as a member.
std::string peer_syntax(const std::string &expression) {
  std::string out;
  bool in_class = false;
  for (std::size_t i = 0; i < expression.size(); ++i) {
    char c = expression[i];
    if (in_class) {
      bool opening = out.back() == '[' || (out.back() == '^' && out[out.size() - 2] == '[');
      if (c == ']' && !opening)
        in_class = false;
      if (c == '\\' || c == '[')
        out += '\\';
      out += c;
    } else if (c == '\\' && i + 1 < expression.size()) {
      out += c;
      out += expression[++i];
    } else {
      in_class = c == '[';
      out += c;
    }
  }
  return out;
}

enum Engine {
  kTrelvikDecision, // what the gate's verdicts call
  kTrelvikGroups,   // execute_regexp, which also places the match and its groups
  kRe2,
  kRe2Groups, // RE2 asked for the match and its groups as well
  kPcre2Jit,
  kPcre2Interpreter,
  kEngineCount
};
const char *const kEngineNames[] = {"trelvik",    "trelvik_groups", "re2",
                                    "re2_groups", "pcre2_jit",      "pcre2"};

// One expression compiled for every engine.
class Contenders {
public:
  explicit Contenders(const std::string &expression)
      : trelvik_(compile_regexp(expression.c_str())), re2_(peer_syntax(expression), re2_options()) {
    std::string peer = peer_syntax(expression);
    int error = 0;
    PCRE2_SIZE offset = 0;
    for (pcre2_code **code : {&pcre2_jit_, &pcre2_plain_}) {
      *code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(peer.c_str()), peer.size(),
                            PCRE2_DOTALL | PCRE2_DOLLAR_ENDONLY, &error, &offset, nullptr);
    }
    jit_ready_ = pcre2_jit_ && pcre2_jit_compile(pcre2_jit_, PCRE2_JIT_COMPLETE) == 0;
    if (pcre2_plain_ != nullptr)
      match_data_ = pcre2_match_data_create_from_pattern(pcre2_plain_, nullptr);
    // The default 32 KiB stack of the JIT gives up on long subjects.
    jit_stack_ = pcre2_jit_stack_create(32 * 1024, 256 * 1024 * 1024, nullptr);
    jit_context_ = pcre2_match_context_create(nullptr);
    pcre2_jit_stack_assign(jit_context_, nullptr, jit_stack_);
  }
  ~Contenders() {
    pcre2_match_context_free(jit_context_);
    pcre2_jit_stack_free(jit_stack_);
    pcre2_match_data_free(match_data_);
    pcre2_code_free(pcre2_jit_);
    pcre2_code_free(pcre2_plain_);
  }
  Contenders(const Contenders &) = delete;
  Contenders &operator=(const Contenders &) = delete;

  bool ready() const {
    return trelvik_ != nullptr && re2_.ok() && pcre2_plain_ != nullptr && jit_ready_ &&
           match_data_ != nullptr;
  }

  // 1 or 0, or -1 when the engine gave up (a PCRE2 limit).
  int match(Engine engine, const std::string &subject) {
    switch (engine) {
    case kTrelvikDecision:
      return regexp_matches(trelvik_.get(), subject.c_str());
    case kTrelvikGroups:
      return execute_regexp(trelvik_.get(), subject.c_str());
    case kRe2:
      return RE2::PartialMatch(subject, re2_) ? 1 : 0;
    case kRe2Groups:
      return re2_.Match(subject, 0, subject.size(), RE2::UNANCHORED, groups_,
                        1 + re2_.NumberOfCapturingGroups())
                 ? 1
                 : 0;
    case kPcre2Jit:
      return pcre2_result(pcre2_jit_match(pcre2_jit_, subject_of(subject), subject.size(), 0, 0,
                                          match_data_, jit_context_));
    case kPcre2Interpreter:
      return pcre2_result(pcre2_match(pcre2_plain_, subject_of(subject), subject.size(), 0, 0,
                                      match_data_, nullptr));
    case kEngineCount:
      break;
    }
    return -1;
  }

private:
  static RE2::Options re2_options() {
    RE2::Options options;
    options.set_encoding(RE2::Options::EncodingLatin1);
    options.set_dot_nl(true);
    options.set_log_errors(false);
    options.set_max_mem(64 << 20);
    return options;
  }
  static PCRE2_SPTR subject_of(const std::string &subject) {
    return reinterpret_cast<PCRE2_SPTR>(subject.c_str());
  }
  static int pcre2_result(int rc) { return rc > 0 ? 1 : rc == PCRE2_ERROR_NOMATCH ? 0 : -1; }

  std::unique_ptr<Regexp> trelvik_;
  RE2 re2_;
  pcre2_code *pcre2_jit_ = nullptr;
  pcre2_code *pcre2_plain_ = nullptr;
  bool jit_ready_ = false;
  pcre2_match_data *match_data_ = nullptr;
  pcre2_jit_stack *jit_stack_ = nullptr;
  pcre2_match_context *jit_context_ = nullptr;
  re2::StringPiece groups_[kRegexpGroups];
};

// Matches every subject once per iteration; the counter is the time per
// subject, or per character when PER_CHARACTER.
void run_subjects(benchmark::State &state, const std::string &expression, Engine engine,
                  const std::vector<std::string> &subjects, bool per_character) {
  Contenders contenders(expression);
  if (!contenders.ready()) {
    state.SkipWithError("an engine refused the expression");
    return;
  }
  std::size_t matches = 0, gave_up = 0, characters = 0;
  for (const std::string &subject : subjects) {
    int expected = contenders.match(kTrelvikGroups, subject);
    int result = contenders.match(engine, subject);
    if (result < 0) {
      ++gave_up;
    } else if (result != expected) {
      state.SkipWithError(("engines disagree on " + subject.substr(0, 200)).c_str());
      return;
    }
    matches += static_cast<std::size_t>(expected);
    characters += subject.size();
  }
  for (auto _ : state) {
    for (const std::string &subject : subjects)
      benchmark::DoNotOptimize(contenders.match(engine, subject));
  }
  double units = static_cast<double>(per_character ? characters : subjects.size());
  state.counters[per_character ? "ns_per_char" : "ns_per_path"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * units,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["matches"] = static_cast<double>(matches);
  if (gave_up > 0)
    state.counters["gave_up"] = static_cast<double>(gave_up);
  state.SetLabel(expression);
}

void corpus_benchmark(benchmark::State &state, int pattern, Engine engine) {
  run_subjects(state, translate_ant_pattern(kCorpusPatterns[pattern], false), engine, corpus(),
               false);
}

// "a\b\c\" repeated, ending in "d" and one more character: every segment
// almost matches "**/a/**/b/**/c/**/d" and the final "d" is one too early.
std::string near_miss(std::size_t length) {
  std::string text;
  while (text.size() < length - 2)
    text += "a\\b\\c\\";
  text.resize(length - 2);
  return text + "dx";
}

void near_miss_benchmark(benchmark::State &state, Engine engine) {
  std::vector<std::string> subjects = {near_miss(static_cast<std::size_t>(state.range(0)))};
  run_subjects(state, translate_ant_pattern("**/a/**/b/**/c/**/d", false), engine, subjects, false);
  state.counters["ns_per_char"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * static_cast<double>(subjects[0].size()),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// "^(a|b)*$" over a million characters of "a" and "b", once matching and
// once with a final "c" that fails it.
std::string long_alternation(bool matching) {
  std::string text;
  for (std::size_t i = 0; i < 1000000; ++i)
    text += (i * 7 / 3) % 2 == 0 ? 'a' : 'b';
  if (!matching)
    text.back() = 'c';
  return text;
}

void long_alternation_benchmark(benchmark::State &state, Engine engine) {
  std::vector<std::string> subjects = {long_alternation(state.range(0) != 0)};
  run_subjects(state, "^(a|b)*$", engine, subjects, true);
}

double minimum_of(const std::vector<double> &values) {
  double low = values.empty() ? 0 : values[0];
  for (double v : values)
    low = std::min(low, v);
  return low;
}

double maximum_of(const std::vector<double> &values) {
  double high = 0;
  for (double v : values)
    high = std::max(high, v);
  return high;
}

void with_statistics(benchmark::internal::Benchmark *benchmark) {
  benchmark->ComputeStatistics("min", minimum_of)->ComputeStatistics("max", maximum_of);
}

void register_benchmarks() {
  for (int pattern = 0; pattern < kCorpusPatternCount; ++pattern) {
    for (int engine = 0; engine < kEngineCount; ++engine) {
      std::string name =
          std::string("corpus/") + kCorpusPatterns[pattern] + "/" + kEngineNames[engine];
      with_statistics(benchmark::RegisterBenchmark(name.c_str(), corpus_benchmark, pattern,
                                                   static_cast<Engine>(engine))
                          ->Unit(benchmark::kMillisecond));
    }
  }
  for (int engine = 0; engine < kEngineCount; ++engine) {
    std::string name = std::string("near_miss/") + kEngineNames[engine];
    with_statistics(
        benchmark::RegisterBenchmark(name.c_str(), near_miss_benchmark, static_cast<Engine>(engine))
            ->Arg(200)
            ->Arg(500)
            ->Arg(1000)
            ->Arg(2000)
            ->Arg(4000)
            ->Unit(benchmark::kMicrosecond));
  }
  for (int engine = 0; engine < kEngineCount; ++engine) {
    std::string name = std::string("a_or_b_star/") + kEngineNames[engine];
    with_statistics(benchmark::RegisterBenchmark(name.c_str(), long_alternation_benchmark,
                                                 static_cast<Engine>(engine))
                        ->ArgName("matching")
                        ->Arg(1)
                        ->Arg(0)
                        ->Unit(benchmark::kMillisecond));
  }
}

// Collects each benchmark's per-unit figure (median, min, max over the
// repetitions, or the single run) to print the ratios afterwards.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
  struct Figures {
    double median = 0, low = 0, high = 0;
    bool gave_up = false; // a PCRE2 limit stopped some matches
  };

  void ReportRuns(const std::vector<Run> &runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run &run : runs) {
      if (run.error_occurred)
        continue;
      double value = 0;
      for (const char *counter : {"ns_per_path", "ns_per_char"}) {
        auto found = run.counters.find(counter);
        if (found != run.counters.end()) {
          value = found->second.value * 1e9; // seconds per unit, printed as ns
          break;
        }
      }
      std::string name = run.run_name.str();
      Figures &figures = figures_[name];
      if (run.counters.find("gave_up") != run.counters.end())
        figures.gave_up = true;
      if (run.run_type == Run::RT_Iteration && run.repetitions <= 1) {
        figures = {value, value, value};
      } else if (run.aggregate_name == "median") {
        figures.median = value;
      } else if (run.aggregate_name == "min") {
        figures.low = value;
      } else if (run.aggregate_name == "max") {
        figures.high = value;
      }
    }
  }

  // For every benchmark named ".../re2[/args]", the other engines against it.
  void print_summary() const {
    std::printf("\nSummary: ns per path (corpus, near_miss) or per character (a_or_b_star), "
                "median [min-max], and ratio of medians to RE2\n");
    for (const auto &[name, figures] : figures_) {
      std::string base = name;
      std::string re2_name = re2_counterpart(name);
      auto re2 = figures_.find(re2_name);
      double ratio =
          re2 != figures_.end() && re2->second.median > 0 ? figures.median / re2->second.median : 0;
      std::printf("%-48s %12.2f [%.2f-%.2f]  x%.2f%s\n", base.c_str(), figures.median, figures.low,
                  figures.high, ratio, figures.gave_up ? "  (gave up: match limit)" : "");
    }
  }

private:
  // The same benchmark with the engine part replaced by "re2".
  static std::string re2_counterpart(const std::string &name) {
    for (const char *engine : kEngineNames) {
      std::string part = std::string("/") + engine;
      std::size_t at = name.find(part + "/");
      if (at == std::string::npos && name.size() >= part.size() &&
          name.compare(name.size() - part.size(), part.size(), part) == 0)
        at = name.size() - part.size();
      if (at != std::string::npos)
        return name.substr(0, at) + "/re2" + name.substr(at + part.size());
    }
    return name;
  }

  std::map<std::string, Figures> figures_;
};

} // namespace

int main(int argc, char **argv) {
  register_benchmarks();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.print_summary();
  benchmark::Shutdown();
  return 0;
}
