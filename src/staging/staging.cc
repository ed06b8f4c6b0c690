// The staging folder: "<TEMP>\tvk<pid>.tmp", filled with copies of the
// selected files at their version paths, named to the checker in WORKDIR,
// and removed again afterwards.
//
// Only the copies this run made are ever deleted, each only while it is
// still the file the copy made, and neither the deletions nor the folder
// removal ever go through a link, so nothing outside what the run created
// is touched, whatever the checker did to the folder.
#include "staging/staging.h"

#include <cstdio>
#include <string_view>
#include <utility>

#include "common/diagnostics.h"
#include "staging/bulk.h"
#include "staging/paths.h"

namespace {

// The staging folder path must fit a field of this many bytes, NUL included.
constexpr std::size_t kStagingFolderField = 1024;

// Names tried after "tvk<pid>.tmp" when that one is taken.
constexpr int kOtherNames = 100;

// The staging folder path for TEMP, PROCESS_ID and the ATTEMPT-th name (0:
// "tvk<pid>.tmp", n: "tvk<pid>-n.tmp"); none when it would not fit the
// staging-folder field.
std::optional<std::string> staging_folder_path(const std::string &temp, int process_id,
                                               int attempt) {
  char field[kStagingFolderField];
  int length = attempt == 0 ? std::snprintf(field, sizeof field, "%s\\%s%d.tmp", temp.c_str(),
                                            "tvk", process_id)
                            : std::snprintf(field, sizeof field, "%s\\%s%d-%d.tmp", temp.c_str(),
                                            "tvk", process_id, attempt);
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof field)
    return std::nullopt;
  return std::string(field);
}

void announce_copy(const VersionEntry &entry) {
  const char *source = entry.matched_file ? entry.matched_file->c_str() : "";
  log_debug2("copy '%s' to '%s'\n", source, entry.staged_path->c_str());
}

// The staging loop's plan, made before anything is printed or copied: each
// version's verdict, up to the first selected one that leads outside the
// staging folder (where the loop ends), and the copies before it in order.
struct StagingPlan {
  std::vector<bool> selected;
  std::vector<AheadCopy> copies;
};

StagingPlan plan_staging(const std::string &folder, VersionTable &versions,
                         const PatternList &include, const PatternList &exclude) {
  StagingPlan plan;
  plan.selected.reserve(versions.size());
  for (VersionEntry &entry : versions) {
    entry.staged_path = folder + entry.version;
    bool selected = is_selected_for_staging(entry.version.c_str(), include, exclude);
    plan.selected.push_back(selected);
    if (!selected)
      continue;
    if (leads_outside_staging_folder(entry.version))
      break;
    plan.copies.emplace_back().entry = &entry;
  }
  return plan;
}

} // namespace

Outcome StagingFolder::create() {
  remove();
  std::optional<std::string> temp = platform::temp_folder();
  if (!temp)
    return Outcome::Failed;
  int process_id = platform::process_id();
  for (int attempt = 0; attempt <= kOtherNames; ++attempt) {
    std::optional<std::string> path = staging_folder_path(*temp, process_id, attempt);
    if (!path)
      return Outcome::Failed;
    platform::Status made = platform::make_folder(path->c_str());
    if (made.ok()) {
      path_ = std::move(*path);
      return Outcome::Done;
    }
    // Only a taken name is worth another try; a TEMP that is missing or
    // closed to us refuses every name.
    if (made.kind() != platform::Failure::Exists)
      return Outcome::Failed;
  }
  return Outcome::Failed;
}

StagingResult StagingFolder::stage_files(VersionTable &versions, const PatternList &include,
                                         const PatternList &exclude) {
  StagingPlan plan = plan_staging(path_, versions, include, exclude);
  std::vector<AheadCopy> &ahead = plan.copies;
  if (ahead.size() >= kCopiesPerThread && !copies_may_clash(ahead)) {
    copy_ahead(path_, &ahead);
    for (const AheadCopy &copy : ahead) {
      if (copy.tried && copy.outcome.ok())
        record_copy(*copy.entry->staged_path, copy.identity);
    }
  } else {
    ahead.clear();
  }
  StagingResult result;
  std::size_t next_ahead = 0;
  FolderMaker folders(path_);
  for (std::size_t i = 0; i < plan.selected.size(); ++i) {
    if (i % kCopiesPerInterruptionCheck == 0 && platform::interruption() != 0)
      break;
    VersionEntry &entry = versions[i];
    if (!plan.selected[i]) {
      std::printf("Skipping '%s'\n", entry.version.c_str());
      continue;
    }
    if (next_ahead < ahead.size() && ahead[next_ahead].entry == &entry && ahead[next_ahead].tried &&
        ahead[next_ahead].outcome.ok()) {
      ++next_ahead;
      announce_copy(entry);
      ++result.copied;
      continue;
    }
    // Not made ahead, or failed there (perhaps only because of a copy that
    // the plain loop would not have made yet): from here on, one by one.
    // The copies recorded so far are the ones made ahead and taken, in
    // order, so the ones after them are exactly those not taken.
    if (next_ahead < ahead.size()) {
      delete_copies_from(next_ahead);
      ahead.clear();
    }
    if (copy_one(entry, &folders) == Outcome::Failed) {
      result.outcome = Outcome::Failed;
      break;
    }
    ++result.copied;
  }
  log_debug1("%d files copied", result.copied);
  // Interrupted at any time, during the last copy too: the run ends without
  // a checker, whatever else happened.
  if (platform::interruption() != 0)
    result.outcome = Outcome::Interrupted;
  return result;
}

// Copies one selected version; Failed (after its message) when the staging
// loop has to stop. FOLDERS makes each folder of the loop's copies once:
// nothing removes folders while the loop runs, and a copy never takes the
// name of a folder that is there.
Outcome StagingFolder::copy_one(VersionEntry &entry, FolderMaker *folders) {
  const std::string &staged = *entry.staged_path;
  if (leads_outside_staging_folder(entry.version)) {
    log_error("ERROR: version '%s' leads outside the staging folder\n", entry.version.c_str());
    return Outcome::Failed;
  }
  std::string parent = parent_folder(staged);
  if (folders->make(parent) == Outcome::Failed) {
    log_error("ERROR: Failed to create folder '%s'\n", parent.c_str());
    return Outcome::Failed;
  }
  announce_copy(entry);
  const char *source = entry.matched_file ? entry.matched_file->c_str() : "";
  platform::FileIdentity copy;
  if (platform::Status copied = platform::copy_file(source, staged.c_str(), &copy); !copied.ok()) {
    log_error("ERROR: Failed to copy '%s' to '%s': %s\n", source, staged.c_str(),
              platform::error_text(copied).c_str());
    return Outcome::Failed;
  }
  record_copy(staged, copy);
  return Outcome::Done;
}

void StagingFolder::record_copy(const std::string &staged_path,
                                const platform::FileIdentity &identity) {
  // Every staged path begins with the staging folder, and so with the base.
  copies_.push_back({staged_path.substr(path_.rfind('\\') + 1), identity});
}

void StagingFolder::delete_copies_from(std::size_t from) {
  if (from >= copies_.size())
    return;
  std::vector<platform::CreatedFile> made;
  for (std::size_t i = from; i < copies_.size(); ++i)
    made.push_back({copies_[i].relative, copies_[i].identity});
  platform::delete_created_files(base(), made);
  copies_.resize(from);
}

void StagingFolder::set_workdir() const {
  std::string value = platform::workdir_value(path_);
  // Refused only for want of memory, which the run does not survive anyway.
  (void)platform::set_environment("WORKDIR", value.c_str());
}

void StagingFolder::remove() {
  if (path_.empty())
    return;
  std::vector<platform::CreatedFile> made;
  made.reserve(copies_.size());
  for (const Copy &copy : copies_)
    made.push_back({copy.relative, copy.identity});
  delete_copies(base(), made);
  platform::remove_empty_folders(path_.c_str());
  path_.clear();
  copies_.clear();
}
