#include "git/folder.h"

#include <cstdio>
#include <cstdlib>
#include <optional>

namespace tvkgit {

bool write_whole_file(const std::string &path, const char *mode, std::string_view text,
                      bool *opened) {
  FILE *stream = platform::open_file(path.c_str(), mode);
  if (opened != nullptr)
    *opened = stream != nullptr;
  if (stream == nullptr)
    return false;
  bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
  return std::fclose(stream) == 0 && written;
}

bool choose_staging_place(const std::string &setting, std::uint64_t bytes) {
  std::string place = setting;
  if (!place.empty() && !platform::folder_space(place.c_str())) {
    std::fprintf(stderr, "trelvik-git: [trelvik] staging: '%s' is not a folder\n", place.c_str());
    return false;
  }
  std::optional<std::string> temp = platform::temp_folder();
  std::optional<platform::FolderSpace> temp_space =
      temp ? platform::folder_space(temp->c_str()) : std::nullopt;
  const char *runtime = std::getenv("XDG_RUNTIME_DIR");
  if (place.empty() && !(temp_space && temp_space->memory_backed) && runtime != nullptr &&
      runtime[0] == '/') {
    // A copy in memory costs a fraction of one on a disk; the folder must
    // be the user's own, and keep room to spare for what else lives there.
    constexpr std::uint64_t kSpare = 64u << 20;
    std::optional<platform::FolderSpace> space = platform::folder_space(runtime);
    if (space && space->memory_backed && space->private_to_user &&
        space->free_bytes > bytes + kSpare)
      place = runtime;
  }
  return place.empty() || platform::set_environment("TEMP", place.c_str()).ok();
}

PrivateFolder::~PrivateFolder() {
  if (path_.empty())
    return;
  std::vector<platform::CreatedFile> created;
  for (const auto &[relative, identity] : files_)
    created.push_back({relative, identity});
  platform::delete_created_files(path_ + "/", created);
  platform::remove_empty_folders(path_.c_str());
}

bool PrivateFolder::create(std::string *error) {
  std::optional<std::string> temp_value = platform::temp_folder();
  if (!temp_value) {
    *error = "no TEMP folder";
    return false;
  }
  std::string temp = *temp_value;
  if (!temp.empty() && temp.back() != '/')
    temp += '/';
  std::string made;
  for (int attempt = 0; attempt < 100 && made.empty(); ++attempt) {
    std::string name = temp + "tvkgit" + std::to_string(platform::process_id());
    if (attempt > 0)
      name += "-" + std::to_string(attempt);
    name += ".tmp";
    if (platform::make_folder(name.c_str()).ok())
      made = name;
    else if (platform::path_kind(name.c_str()) == platform::PathKind::Missing)
      break; // not taken: TEMP itself is unusable
  }
  std::optional<std::string> absolute;
  if (!made.empty())
    absolute = platform::long_path(made.c_str());
  if (!absolute) {
    if (!made.empty())
      platform::remove_empty_folders(made.c_str());
    *error = "cannot create a private folder in '" + temp + "'";
    return false;
  }
  path_ = *absolute;
  if (path_.find_first_of("\\\r\n") != std::string::npos) {
    *error = "the private folder '" + path_ + "' holds a backslash or a line end in its path";
    return false;
  }
  return true;
}

bool PrivateFolder::write_file(const std::string &name, std::string_view text) {
  bool opened = false;
  bool written = write_whole_file(path_ + "/" + name, "wx", text, &opened);
  if (opened)
    record(name);
  return written;
}

void PrivateFolder::record(const std::string &relative) {
  std::optional<platform::FileIdentity> identity =
      platform::file_identity((path_ + "/" + relative).c_str());
  if (identity)
    files_.emplace_back(relative, *identity);
}

} // namespace tvkgit
