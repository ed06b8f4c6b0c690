// File services on Windows: status, folders, copying and the removal of what
// a run created. Every path goes to the wide-character calls in its "\\?\"
// form (paths.h), so that paths of any length work; the byte-string calls
// fail beyond 260 characters. The removal checks, right before it goes
// through a folder, that the folder is not a junction or link that a
// checker put in its place, and deletes a copy only while its name still
// holds the file the copy made.
//
// Needs the Win32 API (CopyFileW, FindFirstFileW, CreateDirectoryW,
// RemoveDirectoryW, GetFileInformationByHandle, file attributes).
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/path_components.h"
#include "platform/platform.h"
#include "platform/win32/errors.h"
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

// What PATH names, opened only to be asked about (no access to its content);
// with FLAGS FILE_FLAG_OPEN_REPARSE_POINT a link itself, not what it leads
// to. Not open when there is nothing.
Handle open_for_query(const std::wstring &path, DWORD flags) {
  HANDLE opened =
      CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
  return Handle(reinterpret_cast<std::intptr_t>(opened)); // INVALID_HANDLE_VALUE: none
}

// The volume and file index of what PATH names, without following a link.
std::optional<FileIdentity> identity_at(const std::wstring &path) {
  Handle file = open_for_query(path, FILE_FLAG_OPEN_REPARSE_POINT);
  BY_HANDLE_FILE_INFORMATION information;
  if (!file.is_open() ||
      !GetFileInformationByHandle(reinterpret_cast<HANDLE>(file.native()), &information))
    return std::nullopt;
  return FileIdentity{information.dwVolumeSerialNumber,
                      (std::uint64_t(information.nFileIndexHigh) << 32) |
                          information.nFileIndexLow};
}

bool is_plain_file(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

// Deletes PATH while it is still the plain file IDENTITY names. A copy
// takes the read-only attribute of its source, which would make the
// deletion fail and leave the copy and the folders around it behind: the
// attribute goes first.
void delete_if_same(const std::wstring &path, const FileIdentity &identity) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  std::optional<FileIdentity> found = identity_at(path);
  if (!is_plain_file(attributes) || !found || found->device != identity.device ||
      found->inode != identity.inode)
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
  Handle target = open_for_query(path, 0);
  BY_HANDLE_FILE_INFORMATION information;
  if (!target.is_open() ||
      !GetFileInformationByHandle(reinterpret_cast<HANDLE>(target.native()), &information))
    return INVALID_FILE_ATTRIBUTES;
  return information.dwFileAttributes;
}

// The names of the real sub-folders of FOLDER (junctions and links left
// out); the listing is closed before it returns.
std::vector<std::wstring> subfolders_of(const std::wstring &folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE listing = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (listing == INVALID_HANDLE_VALUE)
    return names;
  std::unique_ptr<void, BOOL(WINAPI *)(HANDLE)> closer(listing, FindClose);
  do {
    std::wstring_view name = found.cFileName;
    bool is_folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    bool is_link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (is_folder && !is_link && name != L"." && name != L"..")
      names.emplace_back(name);
  } while (FindNextFileW(listing, &found));
  return names;
}

// Removes TOP and the folders below it that are empty, depth first, never
// going into a junction or link. Iterative: a checker may leave a tree of
// any depth.
void remove_empty_below(const std::wstring &top) {
  struct Level {
    std::wstring folder;
    std::vector<std::wstring> subfolders;
    std::size_t next = 0;
  };
  if (!is_real_folder(top))
    return;
  std::vector<Level> levels;
  levels.push_back({top, subfolders_of(top)});
  while (!levels.empty()) {
    Level &level = levels.back();
    if (level.next < level.subfolders.size()) {
      std::wstring child = level.folder + L"\\" + level.subfolders[level.next++];
      if (is_real_folder(child)) {
        std::vector<std::wstring> below = subfolders_of(child);
        levels.push_back({std::move(child), std::move(below)});
      }
      continue;
    }
    RemoveDirectoryW(level.folder.c_str());
    levels.pop_back();
  }
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
  return last_error();
}

Status copy_file(const char *source, const char *destination, FileIdentity *copy) {
  std::wstring to = system_path(destination);
  bool existed_before = exists(to);
  if (CopyFileW(system_path(source).c_str(), to.c_str(), TRUE)) {
    if (copy == nullptr)
      return Status();
    // A copy whose identity is unknown could never be told from a file put
    // in its place, and so never be deleted: it is not made.
    std::optional<FileIdentity> made = identity_at(to);
    if (made) {
      *copy = *made;
      return Status();
    }
    Status unknown = last_error();
    DeleteFileW(to.c_str());
    return unknown;
  }
  DWORD code = GetLastError();
  // A copy that broke off may leave what it wrote; only a file this call
  // created is removed. "File exists" means the name belonged to someone
  // else when the copy began, whatever the probe above saw.
  bool taken = code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
  if (!taken && !existed_before && exists(to))
    DeleteFileW(to.c_str());
  return from_win32(code);
}

void delete_created_files(const std::string &base, const std::vector<CreatedFile> &files,
                          bool /*remove_left_folders*/) {
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
    delete_if_same(system_path((folder + parts.back()).c_str()), file.identity);
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
  std::wstring system_form = system_path(path);
  if (!is_plain_file(GetFileAttributesW(system_form.c_str())))
    return std::nullopt;
  return identity_at(system_form);
}

std::optional<RegularFile> regular_file(const char *path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(system_path(path).c_str(), GetFileExInfoStandard, &data) ||
      !is_plain_file(data.dwFileAttributes))
    return std::nullopt;
  return RegularFile{(std::uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow, false};
}

bool read_regular_file(const char *path, std::uint64_t size,
                       const std::function<void(const char *, std::size_t)> &take) {
  Handle file(reinterpret_cast<std::intptr_t>(
      CreateFileW(system_path(path).c_str(), GENERIC_READ,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr)));
  if (!file.is_open())
    return false;
  std::vector<char> buffer(1 << 16);
  std::uint64_t total = 0;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(file.native()), buffer.data(),
                  static_cast<DWORD>(buffer.size()), &got, nullptr))
      return false;
    if (got == 0)
      return total == size;
    take(buffer.data(), got);
    total += got;
    if (total > size)
      return false;
  }
}

std::optional<FolderSpace> folder_space(const char *path) {
  std::wstring system_form = system_path(path);
  DWORD attributes = GetFileAttributesW(system_form.c_str());
  ULARGE_INTEGER available;
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      !GetDiskFreeSpaceExW((system_form + L"\\").c_str(), &available, nullptr, nullptr))
    return std::nullopt;
  return FolderSpace{available.QuadPart, false, false};
}

Status make_executable(const char *path) {
  if (GetFileAttributesW(system_path(path).c_str()) == INVALID_FILE_ATTRIBUTES)
    return last_error();
  return Status();
}

} // namespace platform
