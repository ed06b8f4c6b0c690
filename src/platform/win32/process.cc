// Process, pipe and thread services on Windows.
#include <windows.h>

#include <cstdint>
#include <vector>

#include "platform/platform.h"

namespace platform {
namespace {

HANDLE as_windows(Handle handle) {
  return reinterpret_cast<HANDLE>(handle);
}
Handle as_handle(HANDLE handle) {
  return reinterpret_cast<Handle>(handle);
}

// The portable routine and its context, handed to the Windows thread entry.
struct ThreadStart {
  ThreadRoutine routine;
  void *context;
};

DWORD WINAPI thread_entry(LPVOID raw) {
  ThreadStart start = *static_cast<ThreadStart *>(raw);
  delete static_cast<ThreadStart *>(raw);
  return start.routine(start.context);
}

} // namespace

bool create_pipe(Handle *read_end, Handle *write_end) {
  SECURITY_ATTRIBUTES attributes;
  attributes.nLength = sizeof attributes;
  attributes.lpSecurityDescriptor = nullptr;
  attributes.bInheritHandle = TRUE;
  HANDLE read_handle = nullptr;
  HANDLE write_handle = nullptr;
  if (!CreatePipe(&read_handle, &write_handle, &attributes, 0))
    return false;
  *read_end = as_handle(read_handle);
  *write_end = as_handle(write_handle);
  return true;
}

bool duplicate_private(Handle handle, Handle *duplicate) {
  HANDLE copy = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), as_windows(handle), GetCurrentProcess(), &copy, 0,
                       FALSE, DUPLICATE_SAME_ACCESS))
    return false;
  *duplicate = as_handle(copy);
  return true;
}

void close_handle(Handle handle) {
  CloseHandle(as_windows(handle));
}

std::uint32_t start_process(const char *command, Handle child_stdin, Handle child_stdout,
                            Handle child_stderr, Handle *process) {
  STARTUPINFOA startup;
  GetStartupInfoA(&startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  // A gate started by a C-runtime spawn carries the runtime's table of
  // inherited handles here; passed on, it would make the checker's runtime
  // take its standard streams from that table and bypass the pipes.
  startup.cbReserved2 = 0;
  startup.lpReserved2 = nullptr;
  startup.hStdInput = as_windows(child_stdin);
  startup.hStdOutput = as_windows(child_stdout);
  startup.hStdError = as_windows(child_stderr);
  // CreateProcessA may write into the command line; it gets a copy.
  std::vector<char> command_line(command, command + lstrlenA(command) + 1);
  PROCESS_INFORMATION info;
  if (!CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                      nullptr, nullptr, &startup, &info))
    return GetLastError();
  CloseHandle(info.hThread);
  *process = as_handle(info.hProcess);
  return 0;
}

void wait_process(Handle process) {
  WaitForSingleObject(as_windows(process), INFINITE);
}

void close_process(Handle process) {
  CloseHandle(as_windows(process));
}

bool process_exit_code(Handle process, std::uint32_t *exit_code) {
  DWORD code = 0;
  if (!GetExitCodeProcess(as_windows(process), &code))
    return false;
  *exit_code = code;
  return true;
}

bool read_pipe(Handle pipe, char *buffer, std::uint32_t size, std::uint32_t *count) {
  // A child's zero-length write arrives as a successful read of 0 bytes;
  // only a failed read ends the stream.
  DWORD got = 0;
  do {
    if (!ReadFile(as_windows(pipe), buffer, size, &got, nullptr)) {
      *count = 0;
      return false;
    }
  } while (got == 0);
  *count = got;
  return true;
}

std::uint32_t start_thread(ThreadRoutine routine, void *context, Handle *thread) {
  ThreadStart *start = new ThreadStart{routine, context};
  HANDLE handle = CreateThread(nullptr, 0, thread_entry, start, 0, nullptr);
  DWORD error = GetLastError();
  if (handle == nullptr) {
    delete start;
    return error != 0 ? error : ERROR_GEN_FAILURE;
  }
  *thread = as_handle(handle);
  return 0;
}

void wait_thread(Handle thread) {
  WaitForSingleObject(as_windows(thread), INFINITE);
}

void close_thread(Handle thread) {
  CloseHandle(as_windows(thread));
}

void drain_pipes(const Handle *pipes, int count) {
  char discard[65536];
  if (count == 1) {
    DWORD got = 0;
    while (ReadFile(as_windows(pipes[0]), discard, sizeof discard, &got, nullptr))
      ;
    return;
  }
  // Several pipes and no thread to spare: look at each in turn and read only
  // what is there, so that no pipe waits behind another.
  std::vector<HANDLE> open_pipes;
  for (int i = 0; i < count; ++i)
    open_pipes.push_back(as_windows(pipes[i]));
  while (!open_pipes.empty()) {
    bool moved = false;
    for (std::size_t i = open_pipes.size(); i-- > 0;) {
      DWORD available = 0;
      if (!PeekNamedPipe(open_pipes[i], nullptr, 0, nullptr, &available, nullptr)) {
        open_pipes.erase(open_pipes.begin() + static_cast<std::ptrdiff_t>(i));
        continue;
      }
      if (available == 0)
        continue;
      DWORD got = 0;
      DWORD wanted = available < sizeof discard ? available : sizeof discard;
      if (!ReadFile(open_pipes[i], discard, wanted, &got, nullptr))
        open_pipes.erase(open_pipes.begin() + static_cast<std::ptrdiff_t>(i));
      moved = true;
    }
    if (!moved)
      Sleep(1);
  }
}

} // namespace platform
