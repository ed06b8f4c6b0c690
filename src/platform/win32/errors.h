// Internal to the Windows implementation: Win32 error codes as a Status,
// the one code domain of this implementation.
//
// Needs the Win32 API only.
#pragma once

#include <windows.h>

#include "platform/platform.h"

namespace platform {

// CODE as a Status of its kind (a missing file or folder, a taken name);
// 0 is success.
Status from_win32(DWORD code);

// The failure of the Win32 call just made.
Status last_error();

} // namespace platform
