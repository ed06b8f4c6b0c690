// Process, pipe and thread services on Windows.
//
// Needs Windows Vista or later and its Win32 API only (CreateProcessA,
// anonymous pipes, CreateThread, job objects); built with mingw-w64.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/errors.h"
#include "platform/win32/interrupts.h"
#include "platform/win32/paths.h"

namespace platform {
namespace {

HANDLE as_windows(std::intptr_t native) {
  return reinterpret_cast<HANDLE>(native);
}
std::intptr_t as_native(HANDLE handle) {
  return reinterpret_cast<std::intptr_t>(handle);
}

// The portable routine and its context, handed to the Windows thread entry.
struct ThreadStart {
  ThreadRoutine routine;
  void *context;
};

DWORD WINAPI thread_entry(LPVOID raw) {
  std::unique_ptr<ThreadStart> start(static_cast<ThreadStart *>(raw));
  return start->routine(start->context);
}

// FOLDER as a process can start in it. The system takes a current folder of
// at most MAX_PATH - 2 characters; a longer one is handed on in its short
// (8.3) form when the volume has one that fits, else as it is, and the
// process then cannot be started.
std::string startable_folder(const char *folder) {
  if (widen(folder).size() <= MAX_PATH - 2)
    return folder;
  std::wstring full = system_path(folder);
  std::wstring short_form(full.size() + 1, L'\0');
  DWORD length =
      GetShortPathNameW(full.c_str(), short_form.data(), static_cast<DWORD>(short_form.size()));
  if (length == 0 || length >= short_form.size())
    return folder;
  short_form = without_long_mark(short_form.substr(0, length));
  return short_form.size() <= MAX_PATH - 2 ? narrow(short_form) : std::string(folder);
}

// Reads and discards everything from one pipe until it ends.
void drain_one(HANDLE pipe) {
  char discard[65536];
  DWORD got = 0;
  while (ReadFile(pipe, discard, sizeof discard, &got, nullptr))
    ;
}

} // namespace

Status create_pipe(Pipe *pipe) {
  SECURITY_ATTRIBUTES attributes;
  attributes.nLength = sizeof attributes;
  attributes.lpSecurityDescriptor = nullptr;
  attributes.bInheritHandle = TRUE;
  HANDLE read_handle = nullptr;
  HANDLE write_handle = nullptr;
  if (!CreatePipe(&read_handle, &write_handle, &attributes, 0))
    return last_error();
  pipe->read_end = Handle(as_native(read_handle));
  pipe->write_end = Handle(as_native(write_handle));
  return Status();
}

Status duplicate_private(const Handle &end, Handle *duplicate) {
  HANDLE copy = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), as_windows(end.native()), GetCurrentProcess(), &copy, 0,
                       FALSE, DUPLICATE_SAME_ACCESS))
    return last_error();
  *duplicate = Handle(as_native(copy));
  return Status();
}

std::uint32_t read_pipe(const Handle &pipe, char *buffer, std::uint32_t size) {
  // A child's zero-length write arrives as a successful read of 0 bytes;
  // only a failed read ends the stream.
  DWORD got = 0;
  do {
    if (!ReadFile(as_windows(pipe.native()), buffer, size, &got, nullptr))
      return 0;
  } while (got == 0);
  return got;
}

Status write_pipe(const Handle &pipe, const char *data, std::size_t size) {
  while (size > 0) {
    DWORD wanted = size < 0x40000000u ? static_cast<DWORD>(size) : 0x40000000u;
    DWORD written = 0;
    if (!WriteFile(as_windows(pipe.native()), data, wanted, &written, nullptr))
      return last_error();
    data += written;
    size -= written;
  }
  return Status();
}

void drain_pipes(std::span<const Handle *const> pipes) {
  if (pipes.size() == 1)
    return drain_one(as_windows(pipes[0]->native()));
  // Several pipes and no thread to spare: look at each in turn and read only
  // what is there, so that no pipe waits behind another.
  std::vector<HANDLE> open_pipes;
  for (const Handle *pipe : pipes)
    open_pipes.push_back(as_windows(pipe->native()));
  char discard[65536];
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

Status start_process(const char *command, const Handle &child_stdin, const Handle &child_stdout,
                     const Handle &child_stderr, ChildProcess *process, const char *folder) {
  STARTUPINFOA startup;
  GetStartupInfoA(&startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  // A gate started by a C-runtime spawn carries the runtime's table of
  // inherited handles here; passed on, it would make the checker's runtime
  // take its standard streams from that table and bypass the pipes.
  startup.cbReserved2 = 0;
  startup.lpReserved2 = nullptr;
  startup.hStdInput = as_windows(child_stdin.native());
  startup.hStdOutput = as_windows(child_stdout.native());
  startup.hStdError = as_windows(child_stderr.native());
  // CreateProcessA may write into the command line; it gets a copy. It
  // looks for the program from this program's folder, whatever FOLDER is.
  std::vector<char> command_line(command, command + lstrlenA(command) + 1);
  // While interruptions are held, the child runs in a job of its own, so
  // that an interruption can end it together with whatever it started; it
  // is put there before it runs, so nothing it starts escapes the job.
  Handle job;
  if (interruption_event() != nullptr) {
    if (HANDLE made = CreateJobObjectW(nullptr, nullptr))
      job = Handle(as_native(made));
  }
  DWORD flags = CREATE_NO_WINDOW | (job.is_open() ? CREATE_SUSPENDED : 0);
  std::string start_folder = folder != nullptr ? startable_folder(folder) : std::string();
  PROCESS_INFORMATION info;
  if (!CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, TRUE, flags, nullptr,
                      folder != nullptr ? start_folder.c_str() : nullptr, &startup, &info))
    return last_error();
  Handle primary_thread(as_native(info.hThread));
  if (job.is_open() && !AssignProcessToJobObject(as_windows(job.native()), info.hProcess))
    job.close();
  if ((flags & CREATE_SUSPENDED) != 0)
    ResumeThread(info.hThread);
  *process = ChildProcess();
  process->native_ = as_native(info.hProcess);
  process->group_ = std::move(job);
  return Status();
}

void ChildProcess::release() {
  // Waited for here when no one did, as a Thread is joined.
  wait();
  if (native_ != -1)
    CloseHandle(as_windows(native_));
  native_ = -1;
  group_.close();
  ended_ = false;
}

void ChildProcess::wait() {
  if (native_ == -1 || ended_)
    return;
  HANDLE process = as_windows(native_);
  if (HANDLE interrupted = interruption_event()) {
    // Ended as a console program is by Ctrl-C; a job ends everything the
    // child started as well, which could otherwise keep its output open.
    HANDLE awaited[] = {process, interrupted};
    if (WaitForMultipleObjects(2, awaited, FALSE, INFINITE) == WAIT_OBJECT_0 + 1 &&
        !(group_.is_open() &&
          TerminateJobObject(as_windows(group_.native()), STATUS_CONTROL_C_EXIT)))
      TerminateProcess(process, STATUS_CONTROL_C_EXIT);
  }
  if (WaitForSingleObject(process, INFINITE) == WAIT_OBJECT_0)
    ended_ = true;
}

std::optional<std::uint32_t> ChildProcess::exit_code() const {
  DWORD code = 0;
  if (!ended_ || !GetExitCodeProcess(as_windows(native_), &code))
    return std::nullopt;
  return static_cast<std::uint32_t>(code);
}

Status start_thread(ThreadRoutine routine, void *context, Thread *thread) {
  auto start = std::make_unique<ThreadStart>(ThreadStart{routine, context});
  HANDLE handle = CreateThread(nullptr, 0, thread_entry, start.get(), 0, nullptr);
  if (handle == nullptr)
    return last_error();
  start.release(); // the thread owns it now
  thread->join();  // a thread it held before is waited for first
  thread->native_ = reinterpret_cast<std::uintptr_t>(handle);
  thread->started_ = true;
  return Status();
}

void Thread::join() {
  if (!started_)
    return;
  HANDLE handle = reinterpret_cast<HANDLE>(native_);
  WaitForSingleObject(handle, INFINITE);
  CloseHandle(handle);
  started_ = false;
}

} // namespace platform
