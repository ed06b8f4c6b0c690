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

// Each level of FOLDER below the deepest of its ancestors that is ready,
// from the top, creating first: in the staging folder, which only this run
// writes in until the checker starts, a refusal tells of a folder that is
// there. False when no ancestor is ready or a level could not be made.
bool FolderMaker::make_below_ready(const std::string &folder) const {
  std::vector<std::size_t> ends{folder.size()}; // innermost first
  for (std::size_t end = folder.size();;) {
    std::size_t cut = end == 0 ? std::string::npos : folder.rfind('\\', end - 1);
    if (cut == std::string::npos)
      return false;
    if (ready_.count(folder.substr(0, cut)) != 0)
      break;
    ends.push_back(cut);
    end = cut;
  }
  for (auto end = ends.rbegin(); end != ends.rend(); ++end) {
    platform::Status made = platform::make_folder(folder.substr(0, *end).c_str());
    if (!made.ok() && made.kind() != platform::Failure::Exists)
      return false;
  }
  return true;
}

Outcome FolderMaker::make(const std::string &folder) {
  if (ready_.count(folder) != 0)
    return Outcome::Done;
  // Beside the staging folder (a version without a leading backslash)
  // others may write: asked about every time.
  if (folder.compare(0, inside_.size(), inside_) != 0)
    return ensure_folder(folder);
  if (!make_below_ready(folder) && ensure_folder(folder) == Outcome::Failed)
    return Outcome::Failed;
  // Its ancestors up to the staging folder are there too.
  for (std::string made = folder; ready_.insert(made).second;) {
    std::size_t cut = made.rfind('\\');
    if (cut == std::string::npos)
      break;
    made.resize(cut);
  }
  return Outcome::Done;
}
