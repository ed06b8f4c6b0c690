// Internal to the POSIX implementation: the wait for a child that passes
// on the interruptions held meanwhile.
//
// Needs Linux with glibc 2.34 or later (as every file of posix/).
#pragma once

#include <sys/types.h>

namespace platform {

// Waits for the child PID to end and stores its wait status in *STATUS.
// While interruptions are held, each one that arrives is recorded and, unless
// a terminal sent it to the whole process group, sent on to the child.
// False when the child cannot be waited for (it was reaped elsewhere).
bool wait_for_child(pid_t pid, int *status);

} // namespace platform
