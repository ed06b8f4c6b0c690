// The staging folder: "<TEMP>\tvk<pid>.tmp", filled with copies of the
// selected files at their version paths, named to the checker in WORKDIR,
// and removed again afterwards.
//
// Only the copies this run made are ever deleted, each only while it is
// still the file the copy made, and neither the deletions nor the folder
// removal ever go through a link, so nothing outside what the run created
// is touched, whatever the checker did to the folder.
#include "staging/staging.h"

#include <cerrno>
#include <cstdio>
#include <string_view>
#include <vector>

#include "common/diagnostics.h"
#include "platform/platform.h"
#include "staging/bulk.h"

namespace {

// The parent folder of a staged path: the path cut at its last backslash.
std::string parent_folder(const std::string &path) {
  std::size_t cut = path.rfind('\\');
  return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

bool is_separator(char c) {
  return c == '\\' || c == '/';
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

StagingPlan plan_staging(VersionTable &versions, const PatternList &include,
                         const PatternList &exclude) {
  StagingPlan plan;
  plan.selected.reserve(versions.size());
  for (VersionEntry &entry : versions) {
    entry.staged_path = g_settings.staging_folder + entry.version;
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

// Copies one selected version; false (after its counted message) when the
// staging loop has to stop. READY_FOLDER is the folder that the previous
// copy went to: nothing removes folders while the loop runs, so a version
// in the same folder (the common case in a commit) asks the system nothing
// before its copy.
bool stage_one(VersionEntry &entry, std::string *ready_folder) {
  const std::string &staged = *entry.staged_path;
  if (leads_outside_staging_folder(entry.version)) {
    log_error("ERROR: version '%s' leads outside the staging folder\n", entry.version.c_str());
    return false;
  }
  std::string parent = parent_folder(staged);
  if (parent != *ready_folder) {
    if (!ensure_folder(parent)) {
      log_error("ERROR: Failed to create folder '%s'\n", parent.c_str());
      return false;
    }
    *ready_folder = parent;
  }
  announce_copy(entry);
  const char *source = entry.matched_file ? entry.matched_file->c_str() : "";
  platform::FileIdentity copy;
  if (platform::Status copied = platform::copy_file(source, staged.c_str(), &copy); !copied.ok()) {
    log_error("ERROR: Failed to copy '%s' to '%s': %s\n", source, staged.c_str(),
              platform::error_text(copied).c_str());
    return false;
  }
  entry.copy = copy;
  return true;
}

enum class Climb { Exists, Created, Failed, MissingParent };

// One level of the folder creation: whether FOLDER is there, was made, or
// could not be made (and why).
Climb try_folder(const char *folder) {
  if (platform::path_kind(folder) != platform::PathKind::Missing)
    return Climb::Exists;
  platform::Status made = platform::make_folder(folder);
  if (made.ok())
    return Climb::Created;
  return made.code() == ENOENT ? Climb::MissingParent : Climb::Failed;
}

} // namespace

bool form_staging_folder_path(const std::string &temp, int process_id, std::string *path) {
  char field[kStagingFolderField];
  int length = std::snprintf(field, sizeof field, "%s\\%s%d.tmp", temp.c_str(), "tvk", process_id);
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof field)
    return false;
  *path = field;
  return true;
}

bool create_staging_folder() {
  std::optional<std::string> temp = platform::temp_folder();
  if (!temp)
    return false;
  std::string path;
  if (!form_staging_folder_path(*temp, platform::process_id(), &path))
    return false;
  if (!platform::make_folder(path.c_str()).ok())
    return false;
  g_settings.staging_folder = path;
  return true;
}

bool leads_outside_staging_folder(const std::string &version) {
  std::size_t start = 0;
  while (start <= version.size()) {
    std::size_t end = start;
    while (end < version.size() && !is_separator(version[end]))
      ++end;
    if (version.compare(start, end - start, "..") == 0)
      return true;
    start = end + 1;
  }
  return false;
}

int stage_files(VersionTable &versions, const PatternList &include, const PatternList &exclude) {
  StagingPlan plan = plan_staging(versions, include, exclude);
  std::vector<AheadCopy> &ahead = plan.copies;
  if (ahead.size() >= kCopiesPerThread && !copies_may_clash(ahead))
    copy_ahead(&ahead);
  else
    ahead.clear();
  int copied = 0;
  std::size_t next_ahead = 0;
  std::string ready_folder;
  for (std::size_t i = 0; i < plan.selected.size(); ++i) {
    VersionEntry &entry = versions[i];
    if (!plan.selected[i]) {
      std::printf("Skipping '%s'\n", entry.version.c_str());
      continue;
    }
    if (next_ahead < ahead.size() && ahead[next_ahead].entry == &entry && ahead[next_ahead].tried &&
        ahead[next_ahead].outcome.ok()) {
      ++next_ahead;
      announce_copy(entry);
      ++copied;
      continue;
    }
    // Not made ahead, or failed there (perhaps only because of a copy that
    // the plain loop would not have made yet): from here on, one by one.
    undo_copies_ahead(&ahead, next_ahead);
    if (!stage_one(entry, &ready_folder))
      break;
    ++copied;
  }
  log_debug1("%d files copied", copied);
  return copied;
}

// Walks up from PATH while folders are missing, then creates them from the
// top down. The path is cut in place (a NUL at a backslash names an
// ancestor), so a deep path costs no copies.
bool ensure_folder(const std::string &path) {
  std::string buffer = path;
  std::vector<std::size_t> pending; // ends of folders to create again, innermost first
  std::size_t end = buffer.size();
  for (;;) {
    buffer[end] = '\0';
    Climb climb = try_folder(buffer.c_str());
    if (pending.empty() && climb != Climb::MissingParent)
      return climb != Climb::Failed;
    std::size_t cut = end == 0 ? std::string::npos : buffer.rfind('\\', end - 1);
    if (climb != Climb::MissingParent || cut == std::string::npos) {
      if (pending.empty())
        return false;
      break;
    }
    pending.push_back(end);
    end = cut;
  }
  // Whatever the ancestors' outcome, each level below tries once more; the
  // last try, for PATH itself, decides.
  bool created = false;
  std::size_t above = end;
  for (auto level = pending.rbegin(); level != pending.rend(); ++level) {
    buffer[above] = '\\';
    created = platform::make_folder(buffer.c_str()).ok();
    above = *level;
  }
  return created;
}

void set_workdir() {
  std::string value = platform::workdir_value(g_settings.staging_folder);
  (void)platform::set_environment("WORKDIR", value.c_str());
}

void remove_staged_copies(const VersionTable &versions) {
  if (g_settings.staging_folder.empty())
    return;
  // Every staged path begins with the staging folder, so each copy is named
  // below the folder that holds the staging folder (TEMP as given).
  const std::string &folder = g_settings.staging_folder;
  std::size_t base_length = folder.rfind('\\') + 1;
  std::vector<platform::CreatedFile> copies;
  for (const VersionEntry &entry : versions) {
    if (entry.copy && entry.staged_path)
      copies.push_back({std::string_view(*entry.staged_path).substr(base_length), *entry.copy});
  }
  delete_copies(folder.substr(0, base_length), copies);
  remove_folder_tree(folder);
}

bool remove_folder_tree(const std::string &path) {
  platform::remove_empty_folders(path.c_str());
  return true;
}
