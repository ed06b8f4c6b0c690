// File services on POSIX: status, folders, deletion, copying and listing.
// Every path is handed to the system with its backslashes turned into
// slashes.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/paths.h"

namespace platform {
namespace {

constexpr mode_t kPermissionBits = 0777;
constexpr std::size_t kCopyChunk = 1 << 16;

// The system's text for ERROR with a line end, as the copy error shows it.
std::string error_text_for(int error) {
  const char *text = std::strerror(error);
  if (text == nullptr || *text == '\0' || std::strncmp(text, "Unknown error", 13) == 0)
    return "unknown error " + std::to_string(error) + "\n";
  return std::string(text) + "\n";
}

bool write_all(int fd, const char *data, std::size_t size) {
  while (size > 0) {
    ssize_t written = write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR)
        continue;
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool copy_by_reading(int source, int destination) {
  std::string buffer(kCopyChunk, '\0');
  for (;;) {
    ssize_t count = read(source, buffer.data(), buffer.size());
    if (count < 0) {
      if (errno == EINTR)
        continue;
      return false;
    }
    if (count == 0)
      return true;
    if (!write_all(destination, buffer.data(), static_cast<std::size_t>(count)))
      return false;
  }
}

// The kernel copies inside the file system where it can; when the first
// call shows that it cannot for this pair of files, plain reads and writes
// take over. Once as many bytes as the source's status gave have been
// copied, the copy is complete without asking once more for the end of the
// file: that saves a call per file, most of them smaller than one chunk. A
// size of 0 says nothing (files of /proc report it and still have content),
// so such a copy runs to the end of the file.
bool copy_contents(int source, int destination, off_t expected_size) {
  bool copied_any = false;
  off_t copied = 0;
  for (;;) {
    if (expected_size > 0 && copied >= expected_size)
      return true;
    ssize_t count = copy_file_range(source, nullptr, destination, nullptr, kCopyChunk, 0);
    if (count > 0) {
      copied_any = true;
      copied += count;
      continue;
    }
    if (count == 0)
      return true;
    if (errno == EINTR)
      continue;
    bool unsupported = errno == EXDEV || errno == ENOSYS || errno == EINVAL ||
                       errno == EOPNOTSUPP || errno == EBADF || errno == EPERM;
    if (copied_any || !unsupported)
      return false;
    return copy_by_reading(source, destination);
  }
}

class Descriptor {
public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0)
      ::close(fd_);
  }
  Descriptor(const Descriptor &) = delete;
  Descriptor &operator=(const Descriptor &) = delete;
  int get() const { return fd_; }
  // Closes now so that a late write error (full disk, quota) is seen.
  bool close() {
    int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

private:
  int fd_;
};

// Copies into a destination that this call has just created; any failure
// is returned as an errno value, 0 on success.
int fill_destination(int source, const struct stat &source_status, Descriptor &destination) {
  if (!copy_contents(source, destination.get(), source_status.st_size))
    return errno;
  if (fchmod(destination.get(), source_status.st_mode & kPermissionBits) != 0)
    return errno;
  if (!destination.close())
    return errno;
  return 0;
}

int copy_regular_file(const std::string &source_path, const std::string &destination_path) {
  // Not blocking: opening a pipe would otherwise wait for a writer.
  Descriptor source(open(source_path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (source.get() < 0)
    return errno;
  struct stat status {};
  if (fstat(source.get(), &status) != 0)
    return errno;
  // A directory, pipe or device would fail, block or never end.
  if (S_ISDIR(status.st_mode))
    return EISDIR;
  if (!S_ISREG(status.st_mode))
    return EINVAL;
  Descriptor destination(
      open(destination_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (destination.get() < 0)
    return errno;
  int error = fill_destination(source.get(), status, destination);
  if (error != 0)
    unlink(destination_path.c_str());
  return error;
}

bool is_directory_entry(int folder_fd, const struct dirent *entry, bool *is_link) {
  if (entry->d_type == DT_DIR)
    return true;
  if (entry->d_type == DT_LNK) {
    *is_link = true;
    return false;
  }
  if (entry->d_type != DT_UNKNOWN)
    return false;
  struct stat status {};
  if (fstatat(folder_fd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0)
    return false;
  *is_link = S_ISLNK(status.st_mode);
  return S_ISDIR(status.st_mode);
}

} // namespace

PathKind path_kind(const char *path) {
  struct stat status {};
  if (stat(system_path(path).c_str(), &status) != 0)
    return PathKind::Missing;
  return S_ISDIR(status.st_mode) ? PathKind::Directory : PathKind::File;
}

int make_folder(const char *path) {
  errno = 0;
  if (mkdir(system_path(path).c_str(), 0700) == 0)
    return 0;
  return errno != 0 ? errno : ENOENT;
}

bool remove_folder(const char *path) {
  return rmdir(system_path(path).c_str()) == 0;
}

bool delete_file(const char *path) {
  return unlink(system_path(path).c_str()) == 0;
}

bool copy_file(const char *source, const char *destination, std::string *error_text) {
  int error = copy_regular_file(system_path(source), system_path(destination));
  if (error == 0)
    return true;
  *error_text = error_text_for(error);
  return false;
}

bool list_folder(const char *folder, void (*visit)(const FolderEntry &entry, void *context),
                 void *context) {
  DIR *listing = opendir(system_path(folder).c_str());
  if (listing == nullptr)
    return false;
  while (const struct dirent *found = readdir(listing)) {
    FolderEntry entry;
    entry.name = found->d_name;
    entry.is_directory = is_directory_entry(dirfd(listing), found, &entry.is_link);
    visit(entry, context);
  }
  closedir(listing);
  return true;
}

std::string workdir_value(const std::string &staging_folder) {
  return system_path(staging_folder.c_str());
}

} // namespace platform
