// Internal to the platform implementations: how a relative path below a
// base folder falls apart into the names the removal walks through.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The components of RELATIVE, split at backslashes and slashes (both are
// separators once a path reaches either system), without empty ones.
inline std::vector<std::string> path_components(std::string_view relative) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= relative.size()) {
    std::size_t end = relative.find_first_of("\\/", start);
    if (end == std::string_view::npos)
      end = relative.size();
    if (end > start)
      parts.emplace_back(relative.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

} // namespace platform
