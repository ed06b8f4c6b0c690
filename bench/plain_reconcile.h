// The straightforward pairing of files with versions, the baseline the
// reconciliation benchmark measures the indexed pairing against: every
// backslash tail of each file against every version in table order,
// quadratic.
#pragma once

#include <cstdio>
#include <cstring>
#include <string>

#include "common/diagnostics.h"
#include "driver/reconcile.h"

namespace reconcile_baseline {

inline bool plain_version_matches_suffix(const char *suffix, VersionEntry &entry, bool *problems) {
  std::size_t length = std::strlen(suffix);
  if (length > entry.version.size() ||
      entry.version.compare(entry.version.size() - length, length, suffix) != 0)
    return false;
  if (!entry.matched_file)
    return true;
  std::printf("ERROR: Version '%s' has multiple matches:\n\t%s\t%s", entry.version.c_str(),
              entry.matched_file->c_str(), suffix);
  *problems = true;
  return false;
}

// False, after its warning, for a path that names no ordinary file.
inline bool is_ordinary_file(const std::string &file, PathKindQuery path_kind) {
  platform::PathKind kind = path_kind(file.c_str());
  if (kind == platform::PathKind::File)
    return true;
  std::printf(kind == platform::PathKind::Missing ? "WARNING: Skipping non-existant file '%s'\n"
                                                  : "WARNING: Skipping directory '%s'\n",
              file.c_str());
  return false;
}

inline Outcome plain_reconcile_with(const FileList &files, VersionTable &versions,
                                    PathKindQuery path_kind) {
  bool problems = false;
  for (const std::string &file : files) {
    if (!is_ordinary_file(file, path_kind))
      continue;
    bool matched = false;
    for (std::size_t at = 0; at < file.size() && !matched; ++at) {
      if (file[at] != '\\')
        continue;
      for (VersionEntry &entry : versions) {
        if (plain_version_matches_suffix(file.c_str() + at, entry, &problems)) {
          entry.matched_file = file;
          log_debug2("version '%s' matches file '%s'", entry.version.c_str(), file.c_str());
          matched = true;
          break;
        }
      }
    }
    if (!matched) {
      log_error("ERROR: file '%s' does not match any version\n", file.c_str());
      problems = true;
    }
  }
  for (const VersionEntry &entry : versions) {
    if (!entry.matched_file) {
      log_error("ERROR: version '%s' does not match any file\n", entry.version.c_str());
      problems = true;
    }
  }
  return problems ? Outcome::Failed : Outcome::Done;
}

} // namespace reconcile_baseline
