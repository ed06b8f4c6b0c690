// File services on Windows: the C runtime's status and folder calls, and the
// Win32 copy and folder enumeration. The removal checks, right before it
// goes through a folder, that the folder is not a junction or link that a
// checker put in its place.
//
// Needs the Win32 API (CopyFileA, FindFirstFileA, file attributes) and the
// C runtime's _stat64i32, _mkdir and _rmdir.
#include <windows.h>

#include <direct.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/path_components.h"
#include "platform/platform.h"

namespace platform {
namespace {

bool exists(const char *path) {
  return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

// A folder that is not a junction or symbolic link: one the removal may go
// into. Checked right before use, since the checker may have swapped it.
bool is_real_folder(const char *path) {
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

// Deletes PATH when it is a plain file. A copy takes the read-only
// attribute of its source, which would make the deletion fail and leave the
// copy and the folders around it behind: the attribute goes first.
void delete_plain_file(const char *path) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
    return;
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    DWORD writable = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    SetFileAttributesA(path, writable != 0 ? writable : FILE_ATTRIBUTE_NORMAL);
  }
  _unlink(path);
}

} // namespace

PathKind path_kind(const char *path) {
  struct _stat64i32 status {};
  if (_stat64i32(path, &status) != 0)
    return PathKind::Missing;
  return (status.st_mode & _S_IFDIR) != 0 ? PathKind::Directory : PathKind::File;
}

Status make_folder(const char *path) {
  errno = 0;
  if (_mkdir(path) == 0)
    return Status();
  return Status::failure(static_cast<std::uint32_t>(errno != 0 ? errno : ENOENT));
}

Status copy_file(const char *source, const char *destination, FileIdentity *copy) {
  if (copy != nullptr)
    *copy = FileIdentity{};
  bool existed_before = exists(destination);
  if (CopyFileA(source, destination, TRUE))
    return Status();
  DWORD code = GetLastError();
  // A copy that broke off may leave what it wrote; only a file this call
  // created is removed. "File exists" means the name belonged to someone
  // else when the copy began, whatever the probe above saw.
  bool taken = code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
  if (!taken && !existed_before && exists(destination))
    DeleteFileA(destination);
  return Status::failure(code);
}

void delete_created_files(const std::string &base, const std::vector<CreatedFile> &files) {
  std::string checked_folder; // the last folder found to be real all the way down
  for (const CreatedFile &file : files) {
    std::vector<std::string> parts = path_components(file.relative);
    if (parts.empty())
      continue;
    std::string folder = base;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i)
      folder += parts[i] + "\\";
    if (folder != checked_folder) {
      checked_folder.clear();
      // Every folder between the base and the file, outermost first.
      bool reachable = true;
      std::string walked = base;
      for (std::size_t i = 0; reachable && i + 1 < parts.size(); ++i) {
        walked += parts[i];
        reachable = is_real_folder(walked.c_str());
        walked += '\\';
      }
      if (!reachable)
        continue;
      checked_folder = folder;
    }
    delete_plain_file((folder + parts.back()).c_str());
  }
}

void remove_empty_folders(const char *folder) {
  if (!is_real_folder(folder))
    return;
  std::vector<std::string> subfolders;
  std::string search = std::string(folder) + "\\*";
  WIN32_FIND_DATAA found;
  HANDLE listing = FindFirstFileA(search.c_str(), &found);
  if (listing != INVALID_HANDLE_VALUE) {
    do {
      std::string name = found.cFileName;
      bool is_folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      bool is_link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
      if (is_folder && !is_link && name != "." && name != "..")
        subfolders.push_back(name);
    } while (FindNextFileA(listing, &found));
    FindClose(listing);
  }
  for (const std::string &name : subfolders)
    remove_empty_folders((std::string(folder) + "\\" + name).c_str());
  _rmdir(folder);
}

std::optional<FileIdentity> file_identity(const char *path) {
  DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
    return std::nullopt;
  return FileIdentity{};
}

std::optional<RegularFile> regular_file(const char *path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
    return std::nullopt;
  return RegularFile{(std::uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow, false};
}

std::optional<FolderSpace> folder_space(const char *path) {
  DWORD attributes = GetFileAttributesA(path);
  ULARGE_INTEGER available;
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      !GetDiskFreeSpaceExA(path, &available, nullptr, nullptr))
    return std::nullopt;
  return FolderSpace{available.QuadPart, false, false};
}

Status make_executable(const char *path) {
  if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
    return Status::failure(GetLastError());
  return Status();
}

} // namespace platform
