// Paths for the wide-character calls on Windows.
//
// Needs the Win32 API (MultiByteToWideChar, WideCharToMultiByte,
// AreFileApisANSI, GetFullPathNameW).
#include "platform/win32/paths.h"

#include <windows.h>

namespace platform {
namespace {

constexpr std::wstring_view kLongMark = L"\\\\?\\";
constexpr std::wstring_view kLongShareMark = L"\\\\?\\UNC\\";
constexpr std::wstring_view kDeviceMark = L"\\\\.\\";

UINT file_code_page() {
  return AreFileApisANSI() ? CP_ACP : CP_OEMCP;
}

} // namespace

std::wstring widen(std::string_view text) {
  if (text.empty())
    return std::wstring();
  int size = static_cast<int>(text.size());
  int length = MultiByteToWideChar(file_code_page(), 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(file_code_page(), 0, text.data(), size, wide.data(), length);
  return wide;
}

std::string narrow(std::wstring_view text) {
  if (text.empty())
    return std::string();
  int size = static_cast<int>(text.size());
  int length =
      WideCharToMultiByte(file_code_page(), 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(file_code_page(), 0, text.data(), size, bytes.data(), length, nullptr,
                      nullptr);
  return bytes;
}

std::wstring system_path(const char *path) {
  std::wstring wide = widen(path);
  if (wide.empty() || wide.starts_with(kLongMark) || wide.starts_with(kDeviceMark))
    return wide;
  DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed == 0)
    return wide; // the call that gets it fails as it would have
  std::wstring full(needed, L'\0');
  DWORD length = GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed)
    return wide;
  full.resize(length);
  if (full.starts_with(kDeviceMark) || full.starts_with(kLongMark))
    return full;
  if (full.starts_with(L"\\\\"))
    return std::wstring(kLongShareMark) + full.substr(2);
  return std::wstring(kLongMark) + full;
}

std::wstring without_long_mark(std::wstring_view path) {
  if (path.starts_with(kLongShareMark))
    return L"\\\\" + std::wstring(path.substr(kLongShareMark.size()));
  if (path.starts_with(kLongMark))
    return std::wstring(path.substr(kLongMark.size()));
  return std::wstring(path);
}

} // namespace platform
