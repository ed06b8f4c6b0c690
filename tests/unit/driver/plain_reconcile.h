// The straightforward pairings of files with versions, kept as references
// that the indexed pairing must reproduce message for message; the unit
// tests and the fuzz target both compare against them:
// - the search: every backslash tail of each file against every version in
//   table order, quadratic;
// - the one-to-one pairing by longest common tails, straight from its rule;
// - the two together, as a run pairs: the one-to-one pairing when it pairs
//   everything, else the search.
#pragma once

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "common/diagnostics.h"
#include "driver/reconcile.h"
#include "common/settings.h"

namespace reconcile_test {

inline bool plain_version_matches_suffix(const char *suffix, VersionEntry &entry) {
  std::size_t length = std::strlen(suffix);
  if (length > entry.version.size() ||
      entry.version.compare(entry.version.size() - length, length, suffix) != 0)
    return false;
  if (!entry.matched_file)
    return true;
  std::printf("ERROR: Version '%s' has multiple matches:\n\t%s\t%s", entry.version.c_str(),
              entry.matched_file->c_str(), suffix);
  ++g_settings.error_count;
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

inline void plain_reconcile_with(const FileList &files, VersionTable &versions,
                                 PathKindQuery path_kind) {
  for (const std::string &file : files) {
    if (!is_ordinary_file(file, path_kind))
      continue;
    bool matched = false;
    for (std::size_t at = 0; at < file.size() && !matched; ++at) {
      if (file[at] != '\\')
        continue;
      for (VersionEntry &entry : versions) {
        if (plain_version_matches_suffix(file.c_str() + at, entry)) {
          entry.matched_file = file;
          log_debug2("version '%s' matches file '%s'", entry.version.c_str(), file.c_str());
          matched = true;
          break;
        }
      }
    }
    if (!matched)
      log_error("ERROR: file '%s' does not match any version\n", file.c_str());
  }
  for (const VersionEntry &entry : versions) {
    if (!entry.matched_file)
      log_error("ERROR: version '%s' does not match any file\n", entry.version.c_str());
  }
}

// The length of the longest backslash tail of FILE that VERSION ends with,
// or 0.
inline std::size_t longest_common_tail(const std::string &file, const std::string &version) {
  for (std::size_t at = 0; at < file.size(); ++at) {
    std::size_t length = file.size() - at;
    if (file[at] == '\\' && length <= version.size() &&
        version.compare(version.size() - length, length, file, at, length) == 0)
      return length;
  }
  return 0;
}

// The one-to-one pairing by longest common tails: repeatedly, the longest
// backslash tail that some free file and some free version share pairs
// them, unless two free files or two free versions share it. The version
// index of each file (npos for files that are not ordinary files), or
// nothing when a tie comes up or something is left unpaired.
inline std::optional<std::vector<std::size_t>>
model_one_to_one(const FileList &files, const VersionTable &versions, PathKindQuery path_kind) {
  constexpr std::size_t kNone = std::string::npos;
  std::vector<std::size_t> version_of(files.size(), kNone);
  std::vector<bool> to_pair(files.size()), version_free(versions.size(), true);
  for (std::size_t f = 0; f < files.size(); ++f)
    to_pair[f] = path_kind(files[f].c_str()) == platform::PathKind::File;
  // The longest common tail of every pair; it does not change as pairs are
  // made, only which pairs are free does.
  std::vector<std::vector<std::size_t>> common(files.size());
  for (std::size_t f = 0; f < files.size(); ++f) {
    for (const VersionEntry &entry : versions)
      common[f].push_back(to_pair[f] ? longest_common_tail(files[f], entry.version) : 0);
  }
  for (;;) {
    std::size_t longest = 0, file = kNone;
    for (std::size_t f = 0; f < files.size(); ++f) {
      for (std::size_t v = 0; v < versions.size(); ++v) {
        if (version_of[f] == kNone && version_free[v] && common[f][v] > longest)
          longest = common[f][v], file = f;
      }
    }
    if (longest == 0)
      break;
    const std::string tail = files[file].substr(files[file].size() - longest);
    std::vector<std::size_t> sharing_files, sharing_versions;
    for (std::size_t f = 0; f < files.size(); ++f) {
      if (to_pair[f] && version_of[f] == kNone && files[f].size() >= longest &&
          files[f].compare(files[f].size() - longest, longest, tail) == 0)
        sharing_files.push_back(f);
    }
    for (std::size_t v = 0; v < versions.size(); ++v) {
      const std::string &text = versions[v].version;
      if (version_free[v] && text.size() >= longest &&
          text.compare(text.size() - longest, longest, tail) == 0)
        sharing_versions.push_back(v);
    }
    if (sharing_files.size() != 1 || sharing_versions.size() != 1)
      return std::nullopt;
    version_of[sharing_files[0]] = sharing_versions[0];
    version_free[sharing_versions[0]] = false;
  }
  for (std::size_t f = 0; f < files.size(); ++f) {
    if (to_pair[f] && version_of[f] == kNone)
      return std::nullopt;
  }
  for (bool free : version_free) {
    if (free)
      return std::nullopt;
  }
  return version_of;
}

// A run's pairing: the one-to-one pairing with the messages the search
// prints when it succeeds, else the search itself.
inline void model_reconcile_with(const FileList &files, VersionTable &versions,
                                 PathKindQuery path_kind) {
  std::optional<std::vector<std::size_t>> pairing = model_one_to_one(files, versions, path_kind);
  if (!pairing) {
    plain_reconcile_with(files, versions, path_kind);
    return;
  }
  for (std::size_t f = 0; f < files.size(); ++f) {
    if (!is_ordinary_file(files[f], path_kind))
      continue;
    VersionEntry &entry = versions[(*pairing)[f]];
    entry.matched_file = files[f];
    log_debug2("version '%s' matches file '%s'", entry.version.c_str(), files[f].c_str());
  }
}

} // namespace reconcile_test
