// Starts a Windows program with a chosen environment and records its full
// 32-bit exit code, which Wine's loader would cut to 8 bits.
//   tvk-launch.exe <exit-code-file> [NAME=VALUE | -NAME]... -- <program> [args...]
// NAME=VALUE sets a variable, -NAME removes it. Standard streams are
// inherited. The exit code is written in decimal to <exit-code-file>.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "quote_argument.h"

int main(int argc, char **argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: tvk-launch <exit-code-file> [NAME=VALUE|-NAME]... -- program\n");
    return 120;
  }
  int i = 2;
  for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    std::string setting = argv[i];
    if (setting[0] == '-') {
      SetEnvironmentVariableA(setting.c_str() + 1, nullptr);
      continue;
    }
    std::size_t equals = setting.find('=');
    if (equals == std::string::npos)
      continue;
    SetEnvironmentVariableA(setting.substr(0, equals).c_str(), setting.c_str() + equals + 1);
  }
  std::string command;
  for (++i; i < argc; ++i) {
    if (!command.empty())
      command += ' ';
    command += quote_argument(argv[i]);
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &info)) {
    std::fprintf(stderr, "tvk-launch: cannot start %s (error %lu)\n", command.c_str(),
                 GetLastError());
    return 121;
  }
  CloseHandle(info.hThread);
  WaitForSingleObject(info.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hProcess);
  if (FILE *file = std::fopen(argv[1], "w")) {
    std::fprintf(file, "%lu\n", code);
    std::fclose(file);
  }
  ExitProcess(code);
}
