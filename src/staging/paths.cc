#include "staging/paths.h"

#include <algorithm>

#include "platform/platform.h"

namespace {

enum class Climb { Exists, Created, Failed, MissingParent };

// One level of the folder creation: whether FOLDER is there, was made, or
// could not be made (and why). A name that is taken but cannot be queried
// (a link to nothing) is a failure.
Climb try_folder(const char *folder) {
  if (platform::path_kind(folder) != platform::PathKind::Missing)
    return Climb::Exists;
  platform::Status made = platform::make_folder(folder);
  if (made.ok())
    return Climb::Created;
  return made.kind() == platform::Failure::NotFound ? Climb::MissingParent : Climb::Failed;
}

} // namespace

std::vector<std::string_view> version_components(std::string_view version) {
  std::vector<std::string_view> components;
  std::size_t start = 0;
  while (start <= version.size()) {
    std::size_t end = version.find_first_of("\\/", start);
    if (end == std::string_view::npos)
      end = version.size();
    components.push_back(version.substr(start, end - start));
    start = end + 1;
  }
  return components;
}

std::string parent_folder(const std::string &path) {
  std::size_t cut = path.rfind('\\');
  return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

bool leads_outside_staging_folder(std::string_view version) {
  std::vector<std::string_view> components = version_components(version);
  return std::find(components.begin(), components.end(), "..") != components.end();
}

// Walks up from PATH while folders are missing, then creates them from the
// top down. The path is cut in place (a NUL at a backslash names an
// ancestor), so a deep path costs no copies.
Outcome ensure_folder(const std::string &path) {
  std::string buffer = path;
  std::vector<std::size_t> pending; // ends of folders to create again, innermost first
  std::size_t end = buffer.size();
  for (;;) {
    buffer[end] = '\0';
    Climb climb = try_folder(buffer.c_str());
    if (pending.empty() && climb != Climb::MissingParent)
      return climb == Climb::Failed ? Outcome::Failed : Outcome::Done;
    std::size_t cut = end == 0 ? std::string::npos : buffer.rfind('\\', end - 1);
    if (climb != Climb::MissingParent || cut == std::string::npos) {
      if (pending.empty())
        return Outcome::Failed;
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
  return created ? Outcome::Done : Outcome::Failed;
}

Outcome FolderMaker::make(const std::string &folder) {
  if (ready_.count(folder) != 0)
    return Outcome::Done;
  // Beside the staging folder (a version without a leading backslash)
  // others may write: asked about every time.
  if (folder.compare(0, inside_.size(), inside_) != 0)
    return ensure_folder(folder);
  // The levels below the deepest ready ancestor, innermost first; the
  // staging folder is ready, so the walk ends there at the latest.
  std::vector<std::string> levels;
  for (std::string level = folder; ready_.count(level) == 0; level.resize(level.rfind('\\')))
    levels.push_back(level);
  // Created from the top, without asking first: in the staging folder,
  // which only this run writes in until the checker starts, a refusal tells
  // of a folder that is there.
  bool made = true;
  for (auto level = levels.rbegin(); made && level != levels.rend(); ++level) {
    platform::Status status = platform::make_folder(level->c_str());
    made = status.ok() || status.kind() == platform::Failure::Exists;
  }
  if (!made && ensure_folder(folder) == Outcome::Failed)
    return Outcome::Failed;
  ready_.insert(levels.begin(), levels.end());
  return Outcome::Done;
}
