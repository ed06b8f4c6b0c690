// Running git and the gate: the only part of trelvik-git that knows how a
// child process is made. A child reads the input it is given (often none)
// and then the end of its input.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tvkgit {

struct Captured {
  std::uint32_t exit_code = 0;
  std::string out;
  std::string err;
};

// Takes a child's output as it comes.
using OutputTaker = std::function<void(std::string_view bytes)>;

// Runs COMMAND (a command line, split as the platform splits one) with
// INPUT on its standard input and collects both of its output streams.
// None when it cannot be started.
std::optional<Captured> capture(const std::string &command, std::string_view input = {});

// Runs COMMAND with INPUT, handing its standard output to TAKE as it comes
// and collecting its standard error in *ERRORS; its exit code, or none when
// it cannot be started.
std::optional<std::uint32_t> stream(const std::string &command, std::string_view input,
                                    const OutputTaker &take, std::string *errors);

// Runs COMMAND with INPUT and its output streams relayed to ours as they
// come; its exit code, or none when it cannot be started.
std::optional<std::uint32_t> relay(const std::string &command, std::string_view input = {});

} // namespace tvkgit
