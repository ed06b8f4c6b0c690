// Reconciliation of large commits. Two measurements:
//   BM_PairingOnly   the pairing with a status query that always reports an
//                    ordinary file (no file system involved);
//   BM_WithRealFiles the whole reconciliation, with every file on disk so
//                    that each one is also asked for its status.
// Versions are listed in the reverse order of the files, as nothing in the
// input protocol ties the two orders together.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "driver/reconcile.h"

namespace {

namespace fs = std::filesystem;

std::string relative_path(int i) {
  return "\\proj\\module" + std::to_string(i / 100) + "\\src\\pkg" + std::to_string(i % 7) +
         "\\File" + std::to_string(i) + ".java";
}

VersionTable versions_for(int count) {
  VersionTable versions;
  for (int i = count - 1; i >= 0; --i)
    versions.push_back(VersionEntry{relative_path(i), std::nullopt, std::nullopt, false});
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
    reconcile_files_with(files, versions, always_a_file);
    benchmark::DoNotOptimize(versions.data());
  }
  if (g_settings.error_count != 0)
    state.SkipWithError("unexpected reconciliation errors");
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

void BM_WithRealFiles(benchmark::State &state) {
  int count = static_cast<int>(state.range(0));
  RealFiles disk(count);
  for (auto _ : state) {
    state.PauseTiming();
    VersionTable versions = versions_for(count);
    state.ResumeTiming();
    reconcile_files(disk.files(), versions);
    benchmark::DoNotOptimize(versions.data());
  }
  if (g_settings.error_count != 0)
    state.SkipWithError("unexpected reconciliation errors");
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_WithRealFiles)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
