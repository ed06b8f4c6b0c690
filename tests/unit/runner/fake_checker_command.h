// The fake checker as the start of a command line, found next to the test
// program so that the tests run from any folder, and a sink for what it
// prints.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "runner/output.h"

#ifdef _WIN32
#include <windows.h>
#endif

inline std::filesystem::path test_program_folder() {
#ifdef _WIN32
  char name[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, name, MAX_PATH);
  return std::filesystem::path(std::string(name, length)).parent_path();
#else
  return std::filesystem::read_symlink("/proc/self/exe").parent_path();
#endif
}

// The quoted fake-checker path followed by STEPS (each already a valid
// piece of a command line).
inline std::string fake_checker_command(const std::string &steps) {
  std::string command = "\"";
  command += (test_program_folder() / TRELVIK_FAKE_CHECKER).string();
  command += "\" ";
  command += steps;
  return command;
}

// A sink that keeps every chunk it is handed, each followed by a newline,
// as the gate would print it.
struct CollectedOutput final : ChunkSink {
  std::string text;
  void put(std::string_view chunk) override {
    text.append(chunk);
    text += '\n';
  }
};
