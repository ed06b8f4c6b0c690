// Starts a Windows program with a chosen environment and records its full
// 32-bit exit code, which Wine's loader would cut to 8 bits.
//   tvk-launch.exe <exit-code-file> [--create-process] [--taken NAME]...
//                  [--ctrl-c-when PATH] [NAME=VALUE | -NAME]...
//                  -- <program> [args...]
// NAME=VALUE sets a variable, -NAME removes it. Standard streams are
// inherited. The exit code is written in decimal to <exit-code-file>.
//
// By default the program is started with the C runtime's _spawnv, as a
// trigger written in C would start it: the runtime then hands the child its
// table of inherited handles as well. --create-process starts it with a
// plain CreateProcessA instead.
//
// --taken NAME makes a folder NAME in TEMP before the program runs, "<pid>"
// standing for its process id (it is started suspended until then).
// --ctrl-c-when PATH presses Ctrl-C in the console once PATH exists
// ("<pid>" likewise), while the launcher itself goes on waiting.
#include <windows.h>

#include <process.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/quote.h"

namespace {

HANDLE spawn(char **program_argv, bool create_process, bool suspended, HANDLE *thread) {
  std::vector<std::string> quoted;
  std::string command;
  for (char **arg = program_argv; *arg != nullptr; ++arg) {
    quoted.push_back(quote_argument(*arg));
    command += (command.empty() ? "" : " ") + quoted.back();
  }
  if (!create_process && !suspended) {
    std::vector<const char *> argv;
    for (const std::string &argument : quoted)
      argv.push_back(argument.c_str());
    argv.push_back(nullptr);
    intptr_t process = _spawnv(_P_NOWAIT, program_argv[0], argv.data());
    return process == -1 ? nullptr : reinterpret_cast<HANDLE>(process);
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE,
                      suspended ? CREATE_SUSPENDED : 0, nullptr, nullptr, &startup, &info))
    return nullptr;
  *thread = info.hThread;
  return info.hProcess;
}

// TEXT with "<pid>" replaced by PID.
std::string with_pid(std::string text, DWORD pid) {
  std::size_t at = text.find("<pid>");
  return at == std::string::npos ? text : text.replace(at, 5, std::to_string(pid));
}

void press_ctrl_c_when(const std::string &path, HANDLE process) {
  while (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (WaitForSingleObject(process, 5) == WAIT_OBJECT_0)
      return;
  }
  // The console's Ctrl-C reaches every process attached to it; this one
  // only goes on waiting.
  SetConsoleCtrlHandler([](DWORD) -> BOOL { return TRUE; }, TRUE);
  GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
}

} // namespace

int main(int argc, char **argv) {
  int i = 2;
  bool create_process = false;
  std::vector<std::string> taken;
  std::string ctrl_c_when;
  for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    std::string setting = argv[i];
    // _putenv keeps the runtime's copy of the environment, which _spawnv
    // hands on, and the process's own in step.
    if (setting == "--create-process")
      create_process = true;
    else if ((setting == "--taken" || setting == "--ctrl-c-when") && i + 1 < argc)
      (setting == "--taken" ? taken.emplace_back() : ctrl_c_when) = argv[++i];
    else if (setting[0] == '-')
      _putenv((setting.substr(1) + "=").c_str());
    else if (setting.find('=') != std::string::npos)
      _putenv(setting.c_str());
  }
  if (i + 1 >= argc) {
    std::fprintf(stderr, "usage: tvk-launch <exit-code-file> [--create-process] [--taken NAME]... "
                         "[--ctrl-c-when PATH] [NAME=VALUE|-NAME]... -- program [args...]\n");
    return 120;
  }
  HANDLE thread = nullptr;
  HANDLE process = spawn(argv + i + 1, create_process, !taken.empty(), &thread);
  if (process == nullptr) {
    std::fprintf(stderr, "tvk-launch: cannot start %s (error %lu)\n", argv[i + 1], GetLastError());
    return 121;
  }
  DWORD pid = GetProcessId(process);
  const char *temp = std::getenv("TEMP");
  for (const std::string &name : taken)
    CreateDirectoryA((std::string(temp ? temp : ".") + "\\" + with_pid(name, pid)).c_str(),
                     nullptr);
  if (thread != nullptr) {
    ResumeThread(thread);
    CloseHandle(thread);
  }
  if (!ctrl_c_when.empty())
    press_ctrl_c_when(with_pid(ctrl_c_when, pid), process);
  WaitForSingleObject(process, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  if (FILE *file = std::fopen(argv[1], "w")) {
    std::fprintf(file, "%lu\n", code);
    std::fclose(file);
  }
  ExitProcess(code);
}
