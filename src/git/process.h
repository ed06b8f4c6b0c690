// Running git and the gate: the only part of trelvik-git that knows how a
// child process is made. Every child gets an empty standard input.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tvkgit {

struct Captured {
  std::uint32_t exit_code = 0;
  std::string out;
  std::string err;
};

// Runs COMMAND (a command line, split as the platform splits one) and
// collects both of its output streams. None when it cannot be started.
std::optional<Captured> capture(const std::string &command);

// Runs COMMAND with its output streams relayed to ours as they come; its
// exit code, or none when it cannot be started.
std::optional<std::uint32_t> relay(const std::string &command);

} // namespace tvkgit
