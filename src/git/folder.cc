#include "git/folder.h"

#include <cstdio>
#include <optional>

namespace tvkgit {

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
  std::string file = path_ + "/" + name;
  FILE *stream = platform::open_file(file.c_str(), "wx");
  if (stream == nullptr)
    return false;
  record(name);
  bool written = std::fwrite(text.data(), 1, text.size(), stream) == text.size();
  return std::fclose(stream) == 0 && written;
}

void PrivateFolder::record(const std::string &relative) {
  std::optional<platform::FileIdentity> identity =
      platform::file_identity((path_ + "/" + relative).c_str());
  if (identity)
    files_.emplace_back(relative, *identity);
}

} // namespace tvkgit
