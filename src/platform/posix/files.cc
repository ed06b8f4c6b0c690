// File services on POSIX: status, folders, copying and the removal of what
// a run created. Every path is handed to the system with its backslashes
// turned into slashes. The removal reaches folders only through descriptors
// opened without following links, so that nothing a checker plants in the
// staging folder can redirect it outside.
//
// Needs Linux with glibc 2.34 or later: copy_file_range, getdents64,
// openat and unlinkat.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/path_components.h"
#include "platform/platform.h"
#include "platform/posix/io.h"

namespace platform {
namespace {

constexpr mode_t kPermissionBits = 0777;

// Whether the kernel's in-file-system copy is worth trying: all copies of a
// run go from the workspace to the staging folder, so once it is refused
// as unsupported it would be refused for every one of them.
std::atomic<bool> g_range_copies{true};

constexpr std::size_t kCopyChunk = 1 << 16;

// Copies with reads and writes, until as many bytes as EXPECTED_SIZE (when
// above 0) or the end of the file.
bool copy_by_reading(int source, int destination, off_t expected_size) {
  std::string buffer(kCopyChunk, '\0');
  off_t copied = 0;
  for (;;) {
    if (expected_size > 0 && copied >= expected_size)
      return true;
    ssize_t count = read(source, buffer.data(), buffer.size());
    if (count < 0) {
      if (errno == EINTR)
        continue;
      return false;
    }
    if (count == 0)
      return true;
    if (!write_all(destination, buffer.data(), static_cast<std::size_t>(count)).ok())
      return false;
    copied += count;
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
  if (!g_range_copies)
    return copy_by_reading(source, destination, expected_size);
  bool copied_any = false;
  off_t copied = 0;
  for (;;) {
    if (expected_size > 0 && copied >= expected_size)
      return true;
    // All that is left in one call: a file above a chunk costs no more
    // calls than a small one.
    std::size_t wanted = expected_size - copied > static_cast<off_t>(kCopyChunk)
                             ? static_cast<std::size_t>(expected_size - copied)
                             : kCopyChunk;
    ssize_t count = copy_file_range(source, nullptr, destination, nullptr, wanted, 0);
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
    // Between these file systems it fails every time: the run's other
    // copies, which go the same way, read and write from the start.
    g_range_copies = false;
    return copy_by_reading(source, destination, expected_size);
  }
}

// Copies into a destination that this call has just created with the
// source's permission bits, less what the creation mask took (CREATED is
// its status); any failure is returned as an errno value, 0 on success.
int fill_destination(int source, const struct stat &source_status, const struct stat &created,
                     Handle &destination) {
  if (!copy_contents(source, fd(destination), source_status.st_size))
    return errno;
  mode_t permissions = source_status.st_mode & kPermissionBits;
  if ((created.st_mode & kPermissionBits) != permissions &&
      fchmod(fd(destination), permissions) != 0)
    return errno;
  if (Status closed = destination.close_checked(); !closed.ok())
    return static_cast<int>(closed.code());
  return 0;
}

int copy_regular_file(const std::string &source_path, const std::string &destination_path,
                      FileIdentity *copy) {
  // Not blocking: opening a pipe would otherwise wait for a writer.
  Handle source(open(source_path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!source.is_open())
    return errno;
  struct stat status {};
  if (fstat(fd(source), &status) != 0)
    return errno;
  // A directory, pipe or device would fail, block or never end.
  if (S_ISDIR(status.st_mode))
    return EISDIR;
  if (!S_ISREG(status.st_mode))
    return EINVAL;
  Handle destination(open(destination_path.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          status.st_mode & kPermissionBits));
  if (!destination.is_open())
    return errno;
  // A copy whose identity is unknown could never be told from a file put
  // in its place, and so never be deleted: it is not made.
  struct stat created {};
  int error = fstat(fd(destination), &created) == 0 ? 0 : errno;
  if (error == 0 && copy != nullptr)
    *copy = FileIdentity{static_cast<std::uint64_t>(created.st_dev),
                         static_cast<std::uint64_t>(created.st_ino)};
  if (error == 0)
    error = fill_destination(fd(source), status, created, destination);
  if (error != 0)
    unlink(destination_path.c_str());
  return error;
}

// A folder descriptor, opened without following a link in its last
// component.
Handle open_folder_at(int parent, const char *name) {
  return Handle(openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

// The chain of folders, below the base, that the previous deletion went
// through, each opened without following links. Copies of one commit come
// folder by folder, so most deletions reuse every open folder. With
// REMOVE_LEFT, a folder the chain leaves is removed when it is empty (never
// the base): in folder order nothing below it is to come.
class FolderChain {
public:
  FolderChain(Handle base, bool remove_left) : remove_left_(remove_left) {
    chain_.push_back({std::string(), std::move(base)});
  }
  ~FolderChain() { leave(1); }

  // The descriptor of the folder FOLDERS names below the base, or -1 when
  // one of them is missing or is not a real folder.
  int open(const std::vector<std::string> &folders) {
    std::size_t kept = 1;
    while (kept < chain_.size() && kept - 1 < folders.size() &&
           chain_[kept].name == folders[kept - 1])
      ++kept;
    leave(kept);
    for (std::size_t i = kept - 1; i < folders.size(); ++i) {
      Handle next = open_folder_at(fd(chain_.back().folder), folders[i].c_str());
      if (!next.is_open())
        return -1;
      chain_.push_back({folders[i], std::move(next)});
    }
    return fd(chain_.back().folder);
  }

private:
  // Closes the folders from KEPT on, innermost first.
  void leave(std::size_t kept) {
    while (chain_.size() > kept) {
      std::string name = std::move(chain_.back().name);
      chain_.pop_back();
      if (remove_left_ && chain_.back().folder.is_open())
        unlinkat(fd(chain_.back().folder), name.c_str(), AT_REMOVEDIR);
    }
  }

  struct Link {
    std::string name;
    Handle folder;
  };
  std::vector<Link> chain_;
  bool remove_left_;
};

// Deletes NAME in FOLDER when it is still the regular file IDENTITY names.
void delete_if_same(int folder, const char *name, const FileIdentity &identity) {
  struct stat status {};
  if (fstatat(folder, name, &status, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(status.st_mode))
    return;
  if (static_cast<std::uint64_t>(status.st_dev) != identity.device ||
      static_cast<std::uint64_t>(status.st_ino) != identity.inode)
    return;
  unlinkat(folder, name, 0);
}

// One entry of a folder's listing, without "." and "..".
struct Entry {
  std::string name;
  std::uint64_t inode = 0;
  unsigned char type = DT_UNKNOWN;
};

// The entries of the folder FOLDER opens, read straight from the kernel: a
// folder's listing costs a call or two where a status query per entry
// would cost one each. The listing starts where the descriptor stands.
std::vector<Entry> entries_of(int folder) {
  std::vector<Entry> entries;
  alignas(struct dirent64) char buffer[32768];
  for (;;) {
    ssize_t got = getdents64(folder, buffer, sizeof buffer);
    if (got <= 0)
      return entries;
    for (ssize_t at = 0; at < got;) {
      const auto *entry = reinterpret_cast<const struct dirent64 *>(buffer + at);
      at += entry->d_reclen;
      if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
        entries.push_back({entry->d_name, static_cast<std::uint64_t>(entry->d_ino), entry->d_type});
    }
  }
}

// A copy to delete: its name in its folder, and its identity.
struct Deletion {
  std::string name;
  FileIdentity identity;
};

// Deletes the files of GROUP, all in the folder FOLDER, that are still the
// regular files their identities name. A larger group is judged from one
// listing of the folder: a name that lists as a regular file with the
// recorded inode on the folder's own device is the copy. Whatever the
// listing cannot confirm (no file type, another inode number, as some
// layered file systems list them) is asked about one by one.
void delete_group(int folder, const std::vector<Deletion> &group) {
  constexpr std::size_t kListedGroup = 4;
  struct stat folder_status {};
  if (group.size() < kListedGroup || fstat(folder, &folder_status) != 0 ||
      lseek(folder, 0, SEEK_SET) != 0) {
    for (const Deletion &file : group)
      delete_if_same(folder, file.name.c_str(), file.identity);
    return;
  }
  std::vector<Entry> entries = entries_of(folder);
  std::unordered_map<std::string_view, const Entry *> by_name;
  for (const Entry &entry : entries)
    by_name.emplace(entry.name, &entry);
  auto device = static_cast<std::uint64_t>(folder_status.st_dev);
  for (const Deletion &file : group) {
    auto found = by_name.find(file.name);
    if (found == by_name.end())
      continue;
    const Entry &entry = *found->second;
    if (entry.type == DT_REG && entry.inode == file.identity.inode &&
        device == file.identity.device)
      unlinkat(folder, file.name.c_str(), 0);
    else
      delete_if_same(folder, file.name.c_str(), file.identity);
  }
}

// The names of the real sub-folders of FOLDER (links excluded).
std::vector<std::string> subfolders_of(int folder) {
  std::vector<std::string> names;
  if (lseek(folder, 0, SEEK_SET) != 0)
    return names;
  for (Entry &entry : entries_of(folder)) {
    bool is_folder = entry.type == DT_DIR;
    if (entry.type == DT_UNKNOWN) {
      struct stat status {};
      is_folder = fstatat(folder, entry.name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
                  S_ISDIR(status.st_mode);
    }
    if (is_folder)
      names.push_back(std::move(entry.name));
  }
  return names;
}

// Removes the empty folders below FOLDER, depth first, each reached through
// its parent's descriptor so that a link put in a folder's place is never
// followed. Iterative: a checker may leave a tree of any depth, and the
// descriptor limit, not the stack, ends the descent.
void remove_empty_below(Handle folder) {
  struct Level {
    Handle folder;
    std::vector<std::string> subfolders;
    std::size_t next = 0;
  };
  std::vector<Level> levels;
  std::vector<std::string> top = subfolders_of(fd(folder));
  levels.push_back({std::move(folder), std::move(top)});
  while (!levels.empty()) {
    Level &level = levels.back();
    if (level.next < level.subfolders.size()) {
      const std::string &name = level.subfolders[level.next++];
      Handle child = open_folder_at(fd(level.folder), name.c_str());
      if (child.is_open()) {
        std::vector<std::string> below = subfolders_of(fd(child));
        levels.push_back({std::move(child), std::move(below)});
      }
      continue;
    }
    levels.pop_back();
    if (!levels.empty()) {
      const Level &parent = levels.back();
      unlinkat(fd(parent.folder), parent.subfolders[parent.next - 1].c_str(), AT_REMOVEDIR);
    }
  }
}

} // namespace

PathKind path_kind(const char *path) {
  struct stat status {};
  if (stat(system_path(path).c_str(), &status) != 0)
    return PathKind::Missing;
  return S_ISDIR(status.st_mode) ? PathKind::Directory : PathKind::File;
}

Status make_folder(const char *path) {
  errno = 0;
  if (mkdir(system_path(path).c_str(), 0700) == 0)
    return Status();
  return from_errno(errno != 0 ? errno : ENOENT);
}

Status copy_file(const char *source, const char *destination, FileIdentity *copy) {
  return from_errno(copy_regular_file(system_path(source), system_path(destination), copy));
}

void delete_created_files(const std::string &base, const std::vector<CreatedFile> &files,
                          bool remove_left_folders) {
  // The base is the folder the user named; links above the run's own
  // folders are the user's choice and are followed.
  Handle base_folder(open(system_path(base.c_str()).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!base_folder.is_open())
    return;
  FolderChain chain(std::move(base_folder), remove_left_folders);
  // Copies come folder by folder: each run of files in one folder is
  // deleted as a group.
  std::vector<std::string> folders;
  std::vector<Deletion> group;
  auto delete_pending = [&] {
    int folder = group.empty() ? -1 : chain.open(folders);
    if (folder >= 0)
      delete_group(folder, group);
    group.clear();
  };
  for (const CreatedFile &file : files) {
    std::vector<std::string> parts = path_components(file.relative);
    if (parts.empty())
      continue;
    std::string name = std::move(parts.back());
    parts.pop_back();
    if (parts != folders) {
      delete_pending();
      folders = std::move(parts);
    }
    group.push_back({std::move(name), file.identity});
  }
  delete_pending();
}

void remove_empty_folders(const char *folder) {
  std::string path = system_path(folder);
  while (path.size() > 1 && path.back() == '/')
    path.pop_back();
  std::size_t cut = path.rfind('/');
  std::string parent_path = cut == std::string::npos ? "." : cut == 0 ? "/" : path.substr(0, cut);
  std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
  Handle parent(open(parent_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!parent.is_open() || name.empty())
    return;
  Handle top = open_folder_at(fd(parent), name.c_str());
  if (!top.is_open())
    return;
  remove_empty_below(std::move(top));
  unlinkat(fd(parent), name.c_str(), AT_REMOVEDIR);
}

std::optional<FileIdentity> file_identity(const char *path) {
  struct stat status {};
  if (lstat(system_path(path).c_str(), &status) != 0 || !S_ISREG(status.st_mode))
    return std::nullopt;
  return FileIdentity{static_cast<std::uint64_t>(status.st_dev),
                      static_cast<std::uint64_t>(status.st_ino)};
}

std::optional<RegularFile> regular_file(const char *path) {
  struct stat status {};
  if (lstat(system_path(path).c_str(), &status) != 0 || !S_ISREG(status.st_mode))
    return std::nullopt;
  return RegularFile{static_cast<std::uint64_t>(status.st_size), (status.st_mode & S_IXUSR) != 0};
}

bool read_regular_file(const char *path, std::uint64_t size,
                       const std::function<void(const char *, std::size_t)> &take) {
  Handle file(open(system_path(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (!file.is_open())
    return false;
  // Each read asks for a byte more than is left: a regular file's read
  // comes back short only at its end, so a file of up to a chunk costs one
  // read and no second one to find the end. The buffer is taken once per
  // thread and never cleared: only the pages that reads fill are touched.
  constexpr std::uint64_t kChunk = 1 << 20;
  thread_local std::unique_ptr<char[]> buffer;
  if (!buffer)
    buffer.reset(new char[kChunk]);
  std::uint64_t total = 0;
  for (;;) {
    std::size_t wanted =
        static_cast<std::size_t>(size - total < kChunk ? size - total + 1 : kChunk);
    ssize_t got = read(fd(file), buffer.get(), wanted);
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      return got == 0 && total == size;
    take(buffer.get(), static_cast<std::size_t>(got));
    total += static_cast<std::uint64_t>(got);
    if (total > size)
      return false;
    if (static_cast<std::size_t>(got) < wanted)
      return total == size;
  }
}

std::optional<FolderSpace> folder_space(const char *path) {
  std::string system_form = system_path(path);
  struct stat status {};
  struct statfs system {};
  if (stat(system_form.c_str(), &status) != 0 || !S_ISDIR(status.st_mode) ||
      statfs(system_form.c_str(), &system) != 0)
    return std::nullopt;
  constexpr unsigned long kTmpfs = 0x01021994, kRamfs = 0x858458f6;
  unsigned long type = static_cast<unsigned long>(system.f_type);
  return FolderSpace{
      static_cast<std::uint64_t>(system.f_bavail) * static_cast<std::uint64_t>(system.f_bsize),
      type == kTmpfs || type == kRamfs, status.st_uid == geteuid() && (status.st_mode & 077) == 0};
}

Status make_executable(const char *path) {
  std::string system_form = system_path(path);
  struct stat status {};
  if (stat(system_form.c_str(), &status) != 0)
    return from_errno(errno);
  mode_t mode = status.st_mode & 07777;
  if (chmod(system_form.c_str(), mode | ((mode & 0444) >> 2)) != 0)
    return from_errno(errno);
  return Status();
}

} // namespace platform
