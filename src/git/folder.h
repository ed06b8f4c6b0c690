// The run's private folder under TEMP: the gate's input files and the
// index's copies of partly staged files live there, and go with it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace tvkgit {

// Writes TEXT to the file at PATH (slashes), opened with MODE ("w", or "wx"
// for a new file only): false when it cannot be opened (*OPENED is then
// false) or written whole.
bool write_whole_file(const std::string &path, const char *mode, std::string_view text,
                      bool *opened = nullptr);

// Chooses where a run's copies go (its private folder and the gate's
// staging folders) and points TEMP there for itself and the gate: the
// folder SETTING names, when it names one; else TEMP as it is when it lies
// in memory; else XDG_RUNTIME_DIR when it is a private folder in memory
// with room for BYTES; else TEMP as it is. False with one line printed
// when SETTING names no folder.
bool choose_staging_place(const std::string &setting, std::uint64_t bytes);

class PrivateFolder {
public:
  PrivateFolder() = default;
  PrivateFolder(const PrivateFolder &) = delete;
  PrivateFolder &operator=(const PrivateFolder &) = delete;
  // Deletes the files recorded and the folders left empty.
  ~PrivateFolder();

  // Creates <TEMP>/tvkgit<pid>.tmp (mode 0700), or the first free name
  // after it. False with *ERROR when that fails, or when its absolute path
  // holds a backslash or a line end, which the gate's input cannot carry.
  bool create(std::string *error);

  bool exists() const { return !path_.empty(); }
  // The folder's absolute path (slashes, no trailing one).
  const std::string &path() const { return path_; }

  // Writes TEXT to the new file NAME (slashes, in a folder that exists) in the
  // folder and records it; false on failure.
  bool write_file(const std::string &name, std::string_view text);

  // Records the file RELATIVE (slashes) that another program made in the
  // folder, so that it is deleted with it. A name that holds no regular
  // file is left alone.
  void record(const std::string &relative);

private:
  std::string path_;
  std::vector<std::pair<std::string, platform::FileIdentity>> files_;
};

} // namespace tvkgit
