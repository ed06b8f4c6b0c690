#include "git/checking.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "git/folder.h"
#include "git/protocol.h"
#include "git/snapshot.h"
#include "platform/platform.h"

namespace tvkgit {
namespace {

// The longest checker command line a batch of {files} makes: well below
// what Linux takes for one argument (128 KiB) and for all (ARG_MAX).
constexpr std::size_t kCommandLimit = 100000;

// What each check takes: indexes into the run's list of distinct files.
struct CheckFiles {
  std::vector<std::size_t> checked;
  std::vector<std::size_t> context;
};

// Sorts the files of the commit (and of the index, for context) into what
// each check takes. Prints each line about a file that is skipped once;
// false, with a line for each, when a file that a check takes cannot be
// handed to the gate.
class Planner {
public:
  explicit Planner(Output *output) : output_(output) {}

  bool plan(const std::vector<Selector> &selectors, const std::vector<IndexFile> &committed,
            const std::vector<IndexFile> &index, std::vector<CheckFiles> *plans) {
    for (const Selector &selector : selectors) {
      CheckFiles check;
      for (const IndexFile &file : committed) {
        if (selector.selects(file.path))
          take(file, &check.checked);
      }
      if (!check.checked.empty() && selector.has_context()) {
        std::set<std::string_view> checked;
        for (std::size_t i : check.checked)
          checked.insert(files_[i]->path);
        for (const IndexFile &file : index) {
          if (selector.wants_as_context(file.path) && checked.count(file.path) == 0)
            take(file, &check.context);
        }
      }
      plans->push_back(std::move(check));
    }
    return blocked_ == 0;
  }

  const std::vector<const IndexFile *> &files() const { return files_; }

private:
  void take(const IndexFile &file, std::vector<std::size_t> *into) {
    FileKind kind = kind_of(file);
    if (kind == FileKind::Regular) {
      auto [found, added] = positions_.try_emplace(file.path, files_.size());
      if (added)
        files_.push_back(&file);
      into->push_back(found->second);
    } else if (said_.insert(file.path).second) {
      if (kind == FileKind::Unusable) {
        output_->write(stderr, "trelvik-git: " + skip_line(file, kind) + "\n");
        ++blocked_;
      } else {
        output_->line(skip_line(file, kind));
      }
    }
  }

  Output *output_;
  std::map<std::string, std::size_t> positions_;
  std::vector<const IndexFile *> files_;
  std::set<std::string> said_; // files not staged, once told why
  int blocked_ = 0;
};

// One gate run: a check on one batch of its files.
struct Job {
  const Check *check = nullptr;
  std::string title; // "check 'name'", with the batch when there are several
  std::string command;
  std::vector<StagedFile> files;
  bool last = false; // of its check
  bool ran = false;  // not when an interruption came first
  Output output{true};
  std::optional<std::uint32_t> code;
};

// Cuts every check that selected files into its batches, in file order.
std::vector<std::unique_ptr<Job>> make_jobs(const std::vector<Check> &checks,
                                            const std::vector<CheckFiles> &plans,
                                            const std::vector<StagedFile> &staged) {
  std::vector<std::unique_ptr<Job>> jobs;
  for (std::size_t c = 0; c < checks.size(); ++c) {
    const CheckFiles &plan = plans[c];
    if (plan.checked.empty()) {
      // A check without files runs nothing; its job only says so.
      auto job = std::make_unique<Job>();
      job->check = &checks[c];
      job->title = "check '" + checks[c].name + "': no files to check";
      job->last = true;
      jobs.push_back(std::move(job));
      continue;
    }
    std::vector<std::string> names;
    for (std::size_t i : plan.checked)
      names.push_back(staged[i].path);
    std::vector<Batch> batches = batch_commands(checks[c].command, names, kCommandLimit);
    std::size_t next = 0;
    for (std::size_t b = 0; b < batches.size(); ++b) {
      auto job = std::make_unique<Job>();
      job->check = &checks[c];
      job->title = "check '" + checks[c].name + "'";
      if (batches.size() > 1)
        job->title += ", batch " + std::to_string(b + 1) + " of " + std::to_string(batches.size());
      job->command = std::move(batches[b].command);
      for (std::size_t i = 0; i < batches[b].count; ++i)
        job->files.push_back(staged[plan.checked[next + i]]);
      next += batches[b].count;
      for (std::size_t i : plan.context)
        job->files.push_back(staged[i]);
      job->last = b + 1 == batches.size();
      jobs.push_back(std::move(job));
    }
  }
  return jobs;
}

void run_job(Job *job, Output *output) {
  if (platform::interruption() != 0)
    return;
  job->ran = true;
  output->line(job->title);
  if (job->files.empty()) {
    job->code = 0; // a check without files: no gate run
    return;
  }
  job->code =
      relay(gate_command_line(*job->check), protocol_text(job->command, job->files), output);
}

// Runs JOBS on as many threads as there are cores, and hands each one to
// REPORT on this thread in list order as soon as it and those before it
// are done, so that what they printed comes out whole and in order.
template <typename Report>
void run_in_parallel(std::vector<std::unique_ptr<Job>> &jobs, Report report) {
  struct Pool {
    std::vector<std::unique_ptr<Job>> *jobs;
    std::atomic<std::size_t> next{0};
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<char> done;
  } pool{&jobs, {}, {}, {}, std::vector<char>(jobs.size())};
  auto work = [](void *raw) -> std::uint32_t {
    Pool &p = *static_cast<Pool *>(raw);
    for (std::size_t i; (i = p.next++) < p.jobs->size();) {
      Job &job = *(*p.jobs)[i];
      run_job(&job, &job.output);
      std::lock_guard<std::mutex> lock(p.mutex);
      p.done[i] = 1;
      p.changed.notify_all();
    }
    return 0;
  };
  std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
  std::vector<platform::Thread> threads(std::min(cores, jobs.size()));
  std::size_t started = 0;
  for (platform::Thread &thread : threads)
    started += platform::start_thread(work, &pool, &thread).ok() ? 1 : 0;
  if (started == 0)
    work(&pool); // no thread to spare: one after the other, here
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    std::unique_lock<std::mutex> lock(pool.mutex);
    pool.changed.wait(lock, [&] { return pool.done[i] != 0; });
    lock.unlock();
    report(*jobs[i]);
  }
}

int run_each(const CheckSet &set, const std::vector<CheckFiles> &plans,
             const std::vector<StagedFile> &staged, Output *output, std::string *failed) {
  std::vector<std::unique_ptr<Job>> jobs = make_jobs(set.checks, plans, staged);
  std::uint32_t first_failure = 0;
  std::uint32_t check_failure = 0;
  bool started = true;
  auto finish = [&](Job &job) {
    if (!job.ran)
      return;
    job.output.release();
    started = started && job.code.has_value();
    if (check_failure == 0 && job.code)
      check_failure = *job.code;
    if (!job.last)
      return;
    if (check_failure != 0) {
      output->line("check '" + job.check->name + "' failed with exit code " +
                   std::to_string(check_failure));
      if (first_failure == 0 && failed != nullptr)
        *failed = job.check->name;
      if (first_failure == 0)
        first_failure = check_failure;
    }
    check_failure = 0;
  };
  if (set.settings.parallel) {
    run_in_parallel(jobs, finish);
  } else {
    // One after the other, each printing as it goes.
    for (std::unique_ptr<Job> &job : jobs) {
      run_job(job.get(), output);
      finish(*job);
      if (!started)
        break;
    }
  }
  if (platform::interruption() != 0)
    return 1; // the run ends by the interruption, once all is removed
  if (!started) {
    report("trelvik cannot be started: it must be on PATH");
    return 1;
  }
  // An exit status keeps 8 bits: a failure must not come out as 0.
  return first_failure != 0 && (first_failure & 0xFF) == 0 ? 1
                                                           : static_cast<int>(first_failure & 0xFF);
}

} // namespace

bool CheckSet::has_context() const {
  return std::any_of(selectors.begin(), selectors.end(),
                     [](const Selector &s) { return s.has_context(); });
}

bool read_check_set(std::string_view listing, const std::string &source, CheckSet *set) {
  std::string error;
  if (!parse_checks(listing, &set->checks, &set->settings, &error)) {
    report(source + ": " + error);
    return false;
  }
  set->selectors = std::vector<Selector>(set->checks.size());
  for (std::size_t i = 0; i < set->checks.size(); ++i) {
    if (!set->selectors[i].compile(set->checks[i], &error)) {
      report(source + ": " + error);
      return false;
    }
  }
  return true;
}

int run_check_set(const Repository &repository, const CheckSet &set, const Snapshot &snapshot,
                  Output *output, std::string *failed) {
  Planner planner(output);
  std::vector<CheckFiles> plans;
  if (!planner.plan(set.selectors, snapshot.changed, snapshot.all, &plans))
    return 1;
  const std::vector<const IndexFile *> &files = planner.files();
  std::vector<char> in_place;
  std::uint64_t bytes = 0;
  examine_files(files, &in_place, &bytes);
  if (!choose_staging_place(set.settings.staging, bytes))
    return 1;
  PrivateFolder folder;
  std::vector<std::string> sources;
  if (!place_files(repository, files, in_place, &folder, &sources))
    return 1;
  std::vector<StagedFile> staged;
  for (std::size_t i = 0; i < files.size(); ++i)
    staged.push_back({sources[i], files[i]->path});
  return run_each(set, plans, staged, output, failed);
}

} // namespace tvkgit
