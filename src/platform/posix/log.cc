// Long-path form and dump log on POSIX.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix/paths.h"

namespace platform {
namespace {

constexpr mode_t kLogMode = 0600;

// An existing dump log is reused only when it is plainly ours: a regular
// file of this user with no other name. Anything else (a file planted by
// someone else in a shared folder, a hard link to another file) is left
// untouched rather than emptied.
bool is_own_plain_file(int fd) {
  struct stat status;
  if (fstat(fd, &status) != 0)
    return false;
  return S_ISREG(status.st_mode) && status.st_uid == geteuid() && status.st_nlink == 1;
}

// Opens an existing log for emptying, never through a symbolic link and
// never blocking on a FIFO.
int open_existing_log(const std::string &path) {
  int fd = open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return -1;
  if (!is_own_plain_file(fd) || ftruncate(fd, 0) != 0 || fchmod(fd, kLogMode) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool write_all(int fd, const std::string &data) {
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t wrote = write(fd, data.data() + done, data.size() - done);
    if (wrote < 0 && errno == EINTR)
      continue;
    if (wrote <= 0)
      return false;
    done += static_cast<std::size_t>(wrote);
  }
  return true;
}

} // namespace

bool long_path(const char *path, std::string *long_form) {
  std::string system_form = system_path(path);
  char resolved[PATH_MAX];
  if (realpath(system_form.c_str(), resolved) == nullptr)
    return false;
  *long_form = resolved;
  bool had_separator = !system_form.empty() && system_form.back() == '/';
  if (had_separator && long_form->back() != '/')
    *long_form += '/';
  return true;
}

bool create_log_file(const char *path) {
  std::string system_form = system_path(path);
  int fd =
      open(system_form.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kLogMode);
  if (fd < 0 && errno == EEXIST)
    fd = open_existing_log(system_form);
  if (fd < 0)
    return false;
  close(fd);
  return true;
}

bool append_log_line(const char *path, std::string_view text) {
  int fd = open(system_path(path).c_str(),
                O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, kLogMode);
  if (fd < 0)
    return false;
  // Swapped for something else since it was created: leave it alone.
  std::string line(text);
  line += '\n';
  bool written = is_own_plain_file(fd) && write_all(fd, line);
  close(fd);
  return written;
}

} // namespace platform
