// File services on Windows: status, folders, copying and the removal of what
// a run created. Every path goes to the wide-character calls in its "\\?\"
// form (paths.h), so that paths of any length work; the byte-string calls
// fail beyond 260 characters. The removal checks, right before it goes
// through a folder, that the folder is not a junction or link that a
// checker put in its place.
//
// Needs the Win32 API (CopyFileW, FindFirstFileW, CreateDirectoryW,
// RemoveDirectoryW, file attributes).
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/path_components.h"
#include "platform/platform.h"
#include "platform/win32/paths.h"

namespace platform {
namespace {

bool exists(const std::wstring &path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A folder that is not a junction or symbolic link: one the removal may go
// into. Checked right before use, since the checker may have swapped it.
bool is_real_folder(const std::wstring &path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

// Deletes PATH when it is a plain file. A copy takes the read-only
// attribute of its source, which would make the deletion fail and leave the
// copy and the folders around it behind: the attribute goes first.
void delete_plain_file(const std::wstring &path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
    return;
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    DWORD writable = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    SetFileAttributesW(path.c_str(), writable != 0 ? writable : FILE_ATTRIBUTE_NORMAL);
  }
  DeleteFileW(path.c_str());
}

// The attributes of what PATH names, following a link as the C runtime's
// status query does; INVALID_FILE_ATTRIBUTES when there is nothing.
DWORD followed_attributes(const std::wstring &path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
    return attributes;
  HANDLE target =
      CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (target == INVALID_HANDLE_VALUE)
    return INVALID_FILE_ATTRIBUTES;
  BY_HANDLE_FILE_INFORMATION information;
  bool known = GetFileInformationByHandle(target, &information);
  CloseHandle(target);
  return known ? information.dwFileAttributes : INVALID_FILE_ATTRIBUTES;
}

// The errno value the C runtime gives a folder creation that failed with
// CODE: callers tell a missing parent (ENOENT) from a taken name (EEXIST).
std::uint32_t runtime_error(DWORD code) {
  switch (code) {
  case ERROR_ALREADY_EXISTS:
  case ERROR_FILE_EXISTS:
    return EEXIST;
  case ERROR_FILE_NOT_FOUND:
  case ERROR_PATH_NOT_FOUND:
  case ERROR_INVALID_DRIVE:
  case ERROR_BAD_NETPATH:
  case ERROR_BAD_NET_NAME:
  case ERROR_BAD_PATHNAME:
  case ERROR_FILENAME_EXCED_RANGE:
    return ENOENT;
  case ERROR_ACCESS_DENIED:
  case ERROR_WRITE_PROTECT:
  case ERROR_NETWORK_ACCESS_DENIED:
    return EACCES;
  case ERROR_DISK_FULL:
    return ENOSPC;
  default:
    return EINVAL;
  }
}

// Removes FOLDER (marked) and the folders below it that are empty, depth
// first, never going into a junction or link.
void remove_empty_below(const std::wstring &folder) {
  if (!is_real_folder(folder))
    return;
  std::vector<std::wstring> subfolders;
  WIN32_FIND_DATAW found;
  HANDLE listing = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (listing != INVALID_HANDLE_VALUE) {
    do {
      std::wstring_view name = found.cFileName;
      bool is_folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      bool is_link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
      if (is_folder && !is_link && name != L"." && name != L"..")
        subfolders.emplace_back(name);
    } while (FindNextFileW(listing, &found));
    FindClose(listing);
  }
  for (const std::wstring &name : subfolders)
    remove_empty_below(folder + L"\\" + name);
  RemoveDirectoryW(folder.c_str());
}

} // namespace

PathKind path_kind(const char *path) {
  DWORD attributes = followed_attributes(system_path(path));
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return PathKind::Missing;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::Directory : PathKind::File;
}

Status make_folder(const char *path) {
  if (CreateDirectoryW(system_path(path).c_str(), nullptr))
    return Status();
  return Status::failure(runtime_error(GetLastError()));
}

Status copy_file(const char *source, const char *destination, FileIdentity *copy) {
  if (copy != nullptr)
    *copy = FileIdentity{};
  std::wstring to = system_path(destination);
  bool existed_before = exists(to);
  if (CopyFileW(system_path(source).c_str(), to.c_str(), TRUE))
    return Status();
  DWORD code = GetLastError();
  // A copy that broke off may leave what it wrote; only a file this call
  // created is removed. "File exists" means the name belonged to someone
  // else when the copy began, whatever the probe above saw.
  bool taken = code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
  if (!taken && !existed_before && exists(to))
    DeleteFileW(to.c_str());
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
        reachable = is_real_folder(system_path(walked.c_str()));
        walked += '\\';
      }
      if (!reachable)
        continue;
      checked_folder = folder;
    }
    delete_plain_file(system_path((folder + parts.back()).c_str()));
  }
}

void remove_empty_folders(const char *folder) {
  std::wstring path = system_path(folder);
  // A marked path is taken literally: "<folder>\\*" would list nothing.
  while (path.size() > 1 && path.back() == L'\\' && path[path.size() - 2] != L':')
    path.pop_back();
  remove_empty_below(path);
}

std::optional<FileIdentity> file_identity(const char *path) {
  DWORD attributes = GetFileAttributesW(system_path(path).c_str());
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
  if (GetFileAttributesW(system_path(path).c_str()) == INVALID_FILE_ATTRIBUTES)
    return Status::failure(GetLastError());
  return Status();
}

} // namespace platform
