// File services on Windows: the C runtime's status and folder calls, and the
// Win32 copy and folder enumeration.
#include <windows.h>

#include <direct.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdio>

#include "platform/platform.h"

namespace platform {
namespace {

// FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
// FORMAT_MESSAGE_FROM_SYSTEM, in the user's default language.
constexpr DWORD kMessageFlags = 0x1300;
constexpr DWORD kDefaultLanguage = 0x0400;

// The system's message for CODE, with its own line end.
std::string system_message(DWORD code) {
  char *buffer = nullptr;
  DWORD length = FormatMessageA(kMessageFlags, nullptr, code, kDefaultLanguage,
                                reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
  if (length == 0 || buffer == nullptr) {
    if (buffer != nullptr)
      LocalFree(buffer);
    return "unknown error " + std::to_string(code) + "\n";
  }
  std::string text(buffer, length);
  LocalFree(buffer);
  return text;
}

bool exists(const char *path) {
  return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

} // namespace

PathKind path_kind(const char *path) {
  struct _stat64i32 status {};
  if (_stat64i32(path, &status) != 0)
    return PathKind::Missing;
  return (status.st_mode & _S_IFDIR) != 0 ? PathKind::Directory : PathKind::File;
}

int make_folder(const char *path) {
  errno = 0;
  if (_mkdir(path) == 0)
    return 0;
  return errno != 0 ? errno : ENOENT;
}

bool remove_folder(const char *path) {
  return _rmdir(path) == 0;
}

bool delete_file(const char *path) {
  return _unlink(path) == 0;
}

bool copy_file(const char *source, const char *destination, std::string *error_text) {
  bool existed_before = exists(destination);
  if (CopyFileA(source, destination, TRUE))
    return true;
  DWORD code = GetLastError();
  // A copy that broke off may leave what it wrote; only a file this call
  // created is removed.
  if (!existed_before && exists(destination))
    DeleteFileA(destination);
  *error_text = system_message(code);
  return false;
}

bool list_folder(const char *folder, void (*visit)(const FolderEntry &entry, void *context),
                 void *context) {
  std::string search = std::string(folder) + "\\*";
  WIN32_FIND_DATAA found;
  HANDLE listing = FindFirstFileA(search.c_str(), &found);
  if (listing == INVALID_HANDLE_VALUE)
    return false;
  do {
    FolderEntry entry;
    entry.name = found.cFileName;
    entry.is_directory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.is_link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    visit(entry, context);
  } while (FindNextFileA(listing, &found));
  FindClose(listing);
  return true;
}

std::string workdir_value(const std::string &staging_folder) {
  return staging_folder;
}

} // namespace platform
