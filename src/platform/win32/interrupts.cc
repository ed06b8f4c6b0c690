// Interruptions on Windows: Ctrl-C, Ctrl-Break, closing the console,
// logging off and shutting down.
//
// Needs the Win32 console and synchronisation API (SetConsoleCtrlHandler,
// event objects).
//
// The system calls the handler on a thread of its own. The handler records
// the event and sets an event object that wakes the main thread's wait for
// the checker; the main thread ends the checker, cleans up and ends the
// process. Once the handler returns from a close, log-off or shut-down
// event the system ends the process at once, so for those the handler
// waits instead, until the main thread ends the process (the system allows
// it a few seconds).
#include <windows.h>

#include <atomic>
#include <cstdio>

#include "platform/platform.h"
#include "platform/win32/interrupts.h"

namespace platform {
namespace {

std::atomic<int> g_interruption{0};
HANDLE g_interrupted = nullptr; // manual reset: stays set

BOOL WINAPI on_console_event(DWORD event) {
  switch (event) {
  case CTRL_C_EVENT:
  case CTRL_BREAK_EVENT:
  case CTRL_CLOSE_EVENT:
  case CTRL_LOGOFF_EVENT:
  case CTRL_SHUTDOWN_EVENT:
    break;
  default:
    return FALSE;
  }
  int first = 0;
  g_interruption.compare_exchange_strong(first, static_cast<int>(event) + 1);
  SetEvent(g_interrupted);
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
    Sleep(INFINITE);
  return TRUE;
}

} // namespace

void hold_interrupts() {
  g_interrupted = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (g_interrupted != nullptr)
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

int interruption() {
  return g_interruption.load();
}

void end_interrupted(int) {
  std::fflush(stdout);
  std::fflush(stderr);
  ExitProcess(STATUS_CONTROL_C_EXIT);
}

HANDLE interruption_event() {
  return g_interrupted;
}

} // namespace platform
