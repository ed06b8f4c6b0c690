// Internal to the Windows implementation: what the wait for a child needs
// of the held interruptions.
//
// Needs the Win32 API only.
#pragma once

#include <windows.h>

namespace platform {

// An event that is set once the first interruption has come, for a wait to
// include; null while interruptions are not held.
HANDLE interruption_event();

} // namespace platform
