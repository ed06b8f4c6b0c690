// Real paths of this machine as version texts: the files under /usr, in
// directory order, each with backslash separators, up to a cap. Built once
// per program.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

inline std::vector<std::string> build_path_corpus(std::size_t cap) {
  namespace fs = std::filesystem;
  std::vector<std::string> paths;
  std::error_code error;
  fs::recursive_directory_iterator it("/usr", fs::directory_options::skip_permission_denied, error);
  for (; !error && it != fs::recursive_directory_iterator() && paths.size() < cap;
       it.increment(error)) {
    std::string path = it->path().generic_string();
    for (char &c : path) {
      if (c == '/')
        c = '\\';
    }
    paths.push_back(std::move(path));
  }
  return paths;
}
