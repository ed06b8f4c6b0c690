// Running git and the gate: the only part of trelvik-git that knows how a
// child process is made. A child reads the input it is given (often none)
// and then the end of its input.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tvkgit {

struct Captured {
  std::uint32_t exit_code = 0;
  std::string out;
  std::string err;
};

// Takes a child's output as it comes.
using OutputTaker = std::function<void(std::string_view bytes)>;

// Runs COMMAND (a command line, split as the platform splits one) with
// INPUT on its standard input, handing its standard output to TAKE as it
// comes and collecting its standard error in *ERRORS; its exit code, or
// none when it cannot be started.
std::optional<std::uint32_t> stream(const std::string &command, std::string_view input,
                                    const OutputTaker &take, std::string *errors);

// Where a run's own lines and the output of the gate runs go: to our
// standard streams as they come, or held and printed later in one piece
// (a server hook judges every pushed ref before it says anything).
class Output {
public:
  explicit Output(bool hold = false) : hold_(hold) {}
  Output(const Output &) = delete;
  Output &operator=(const Output &) = delete;

  // Writes BYTES to STREAM (stdout or stderr), or holds them; safe from
  // several threads at once.
  void write(FILE *stream, std::string_view bytes);
  // Writes "trelvik-git: TEXT" and a line end to standard output.
  void line(const std::string &text);
  // Prints what is held, in the order it came, and forgets it.
  void release();

private:
  bool hold_;
  std::mutex mutex_;
  std::vector<std::pair<FILE *, std::string>> held_;
};

// Runs COMMAND with INPUT and its output streams written to OUTPUT as they
// come; its exit code, or none when it cannot be started.
std::optional<std::uint32_t> relay(const std::string &command, std::string_view input,
                                   Output *output);

} // namespace tvkgit
