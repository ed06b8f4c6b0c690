// Reconciliation of large commits. Three measurements:
//   BM_PairingOnly        the pairing with a status query that always
//                         reports an ordinary file (no file system involved);
//   BM_WithRealFiles      the whole reconciliation, with every file on disk
//                         so that each one is also asked for its status;
//   BM_QuadraticWithRealFiles  the same job done by the plain loop that tries
//                         every version for every backslash tail (the
//                         reference the unit tests compare the index with),
//                         status queries included. Only up to 10k files: at
//                         100k it runs for minutes;
//   BM_StatusQueriesOnly  the status query of every file and nothing else:
//                         the floor under BM_WithRealFiles.
// Versions are listed in the reverse order of the files, as nothing in the
// input protocol ties the two orders together. The files lie below TMPDIR:
//
//   TMPDIR=/dev/shm build/native/bench/reconcile_bench
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/diagnostics.h"
#include "driver/reconcile.h"
#include "plain_reconcile.h"

namespace {

namespace fs = std::filesystem;

std::string relative_path(int i) {
  return "\\proj\\module" + std::to_string(i / 100) + "\\src\\pkg" + std::to_string(i % 7) +
         "\\File" + std::to_string(i) + ".java";
}

VersionTable versions_for(int count) {
  VersionTable versions;
  for (int i = count - 1; i >= 0; --i)
    versions.push_back(VersionEntry{relative_path(i), std::nullopt, std::nullopt});
  return versions;
}

platform::PathKind always_a_file(const char *) {
  return platform::PathKind::File;
}

void BM_PairingOnly(benchmark::State &state) {
  int count = static_cast<int>(state.range(0));
  FileList files;
  for (int i = 0; i < count; ++i)
    files.push_back("W:\\workspace" + relative_path(i));
  for (auto _ : state) {
    state.PauseTiming();
    VersionTable versions = versions_for(count);
    state.ResumeTiming();
    if (reconcile_files(files, versions, always_a_file) != Outcome::Done)
      state.SkipWithError("unexpected reconciliation errors");
    benchmark::DoNotOptimize(versions.data());
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_PairingOnly)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// Creates COUNT files below a scratch folder once per size.
class RealFiles {
public:
  explicit RealFiles(int count) {
    root_ = fs::temp_directory_path() / ("tvk-bench-" + std::to_string(count));
    fs::remove_all(root_);
    std::string base = root_.string();
    for (char &c : base) {
      if (c == '/')
        c = '\\';
    }
    for (int i = 0; i < count; ++i) {
      std::string relative = relative_path(i);
      std::string host = root_.string();
      for (char c : relative)
        host += c == '\\' ? '/' : c;
      fs::create_directories(fs::path(host).parent_path());
      std::ofstream(host) << i;
      files_.push_back(base + relative);
    }
  }
  ~RealFiles() { fs::remove_all(root_); }
  const FileList &files() const { return files_; }

private:
  fs::path root_;
  FileList files_;
};

// One pairing of COUNT files on disk with their versions per iteration.
template <Outcome (*Reconcile)(const FileList &, VersionTable &)>
void reconcile_real_files(benchmark::State &state) {
  int count = static_cast<int>(state.range(0));
  RealFiles disk(count);
  for (auto _ : state) {
    state.PauseTiming();
    VersionTable versions = versions_for(count);
    state.ResumeTiming();
    if (Reconcile(disk.files(), versions) != Outcome::Done)
      state.SkipWithError("unexpected reconciliation errors");
    benchmark::DoNotOptimize(versions.data());
  }
  state.SetItemsProcessed(state.iterations() * count);
}

Outcome real_reconcile(const FileList &files, VersionTable &versions) {
  return reconcile_files(files, versions);
}

void BM_WithRealFiles(benchmark::State &state) {
  reconcile_real_files<real_reconcile>(state);
}
BENCHMARK(BM_WithRealFiles)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_StatusQueriesOnly(benchmark::State &state) {
  int count = static_cast<int>(state.range(0));
  RealFiles disk(count);
  for (auto _ : state) {
    int files = 0;
    for (const std::string &file : disk.files())
      files += platform::path_kind(file.c_str()) == platform::PathKind::File ? 1 : 0;
    if (files != count)
      state.SkipWithError("a file is missing");
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_StatusQueriesOnly)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

Outcome plain_reconcile(const FileList &files, VersionTable &versions) {
  return reconcile_baseline::plain_reconcile_with(files, versions, platform::path_kind);
}

void BM_QuadraticWithRealFiles(benchmark::State &state) {
  reconcile_real_files<plain_reconcile>(state);
}
BENCHMARK(BM_QuadraticWithRealFiles)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
