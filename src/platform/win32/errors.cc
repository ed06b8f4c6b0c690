// Win32 error codes as a Status.
//
// Needs the Win32 API only.
#include "platform/win32/errors.h"

namespace platform {

Status from_win32(DWORD code) {
  switch (code) {
  case ERROR_SUCCESS:
    return Status();
  case ERROR_FILE_NOT_FOUND:
  case ERROR_PATH_NOT_FOUND:
  case ERROR_INVALID_DRIVE:
  case ERROR_BAD_NETPATH:
  case ERROR_BAD_NET_NAME:
  case ERROR_BAD_PATHNAME:
  case ERROR_FILENAME_EXCED_RANGE:
    return Status::failure(Failure::NotFound, code);
  case ERROR_ALREADY_EXISTS:
  case ERROR_FILE_EXISTS:
    return Status::failure(Failure::Exists, code);
  default:
    return Status::failure(Failure::Other, code);
  }
}

Status last_error() {
  DWORD code = GetLastError();
  return from_win32(code != ERROR_SUCCESS ? code : ERROR_GEN_FAILURE);
}

} // namespace platform
