// Internal to the Windows implementation: the program's paths, byte strings
// in the code page of the file API, as the wide-character paths that the
// system takes at any length.
//
// Needs the Win32 API (MultiByteToWideChar, GetFullPathNameW).
#pragma once

#include <string>
#include <string_view>

namespace platform {

// TEXT converted to and from the code page that the byte-string file calls
// use (the ANSI one, unless the program chose the OEM one), so that a name
// reaches the system and comes back byte for byte as through those calls.
std::wstring widen(std::string_view text);
std::string narrow(std::wstring_view text);

// PATH as the wide-character calls take it at any length: made absolute the
// way the system makes a path absolute (the current folder, "." and "..",
// slashes, trailing dots and blanks), then marked "\\?\" ("\\?\UNC\" for a
// share), the form without the 260-character limit of the plain one. A
// path marked already or naming a device ("\\.\", "NUL") is only converted.
std::wstring system_path(const char *path);

// PATH without the mark that system_path puts before it.
std::wstring without_long_mark(std::wstring_view path);

} // namespace platform
