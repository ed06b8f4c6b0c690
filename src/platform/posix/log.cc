// Long-path form and dump log on POSIX.
//
// Needs Linux with glibc 2.34 or later (as every file of posix/); the log is
// opened with O_NOFOLLOW and checked with fstat before it is written.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix/io.h"

namespace platform {
namespace {

constexpr mode_t kLogMode = 0600;

// An existing dump log is reused only when it is plainly ours: a regular
// file of this user with no other name. Anything else (a file planted by
// someone else in a shared folder, a hard link to another file) is left
// untouched rather than emptied.
bool is_own_plain_file(int descriptor) {
  struct stat status;
  if (fstat(descriptor, &status) != 0)
    return false;
  return S_ISREG(status.st_mode) && status.st_uid == geteuid() && status.st_nlink == 1;
}

// Empties an existing log, never through a symbolic link and never
// blocking on a FIFO.
Status empty_existing_log(const std::string &path) {
  Handle log(open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!log.is_open())
    return from_errno(errno);
  if (!is_own_plain_file(fd(log)))
    return from_errno(EPERM);
  if (ftruncate(fd(log), 0) != 0 || fchmod(fd(log), kLogMode) != 0)
    return from_errno(errno);
  return log.close_checked();
}

} // namespace

std::optional<std::string> long_path(const char *path) {
  std::string system_form = system_path(path);
  char resolved[PATH_MAX];
  if (realpath(system_form.c_str(), resolved) == nullptr)
    return std::nullopt;
  std::string long_form = resolved;
  bool had_separator = !system_form.empty() && system_form.back() == '/';
  if (had_separator && long_form.back() != '/')
    long_form += '/';
  return long_form;
}

Status create_log_file(const char *path) {
  std::string system_form = system_path(path);
  Handle log(
      open(system_form.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kLogMode));
  if (log.is_open())
    return log.close_checked();
  if (errno != EEXIST)
    return from_errno(errno);
  return empty_existing_log(system_form);
}

Status append_log_line(const char *path, std::string_view text) {
  Handle log(open(system_path(path).c_str(),
                  O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, kLogMode));
  if (!log.is_open())
    return from_errno(errno);
  // Swapped for something else since it was created: leave it alone.
  if (!is_own_plain_file(fd(log)))
    return from_errno(EPERM);
  std::string line(text);
  line += '\n';
  return write_all(fd(log), line.data(), line.size());
}

} // namespace platform
