// Small helpers shared by the fuzz targets: picking inputs for costly
// treatment, catching what the code under test prints, and stopping with a
// readable reason when an oracle disagrees.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// Every target is one translation unit that includes this header once.
// A small quarantine lets freed blocks be reused soon: with the default one
// each run touches fresh pages and page faults dominate the run time. Runs
// allocate little, so a use after free is still caught within a run.
extern "C" const char *__asan_default_options() {
  return "quarantine_size_mb=4:max_malloc_fill_size=0";
}

namespace fuzz {

// Stops the run so that libFuzzer keeps the input as a finding.
[[noreturn]] inline void fail(const char *format, ...) __attribute__((format(printf, 1, 2)));

inline void fail(const char *format, ...) {
  std::fputs("\n*** oracle mismatch: ", stderr);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputs("\n", stderr);
  std::abort();
}

// Prints a byte string readably for a failure message.
inline std::string visible(const std::string &text) {
  std::string shown;
  for (unsigned char c : text) {
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, c >= 0x20 && c < 0x7f && c != '\\' ? "%c" : "\\x%02x",
                  c);
    shown += escaped;
  }
  return shown;
}

// A checksum of DATA, for picking a few inputs for costly treatment in a
// way that replays the same for the same input.
inline std::uint32_t checksum(const std::string &data) {
  std::uint32_t sum = 2166136261u;
  for (unsigned char c : data)
    sum = (sum ^ c) * 16777619u;
  return sum;
}

// The subject of the pattern targets, from the bytes behind the NUL that
// ends the expression or pattern: up to the next NUL, as a version text
// holds none. A byte R behind that second NUL asks for the subject to be
// repeated 1 + 16 * R times, up to 4 KiB, to try long version texts. Long
// subjects make a run a hundred times slower, so only one in 64 of the
// inputs that ask get it, picked by checksum.
inline std::string subject_from(const char *begin, const char *end) {
  std::string subject(begin, end);
  std::size_t length = subject.find('\0');
  if (length == std::string::npos || length + 1 == subject.size() || length == 0 ||
      checksum(subject) % 64 != 0)
    return subject.substr(0, length);
  std::size_t repeats = 1 + 16 * static_cast<unsigned char>(subject[length + 1]);
  subject.resize(length);
  std::string repeated;
  while (repeats-- > 0 && repeated.size() + length <= 4096)
    repeated += subject;
  return repeated;
}

// Runs ACTION with standard output sent to memory and returns what it
// printed. (The C library lets its standard streams be reassigned.)
template <typename Action> std::string printed_by(Action action) {
  char *text = nullptr;
  std::size_t size = 0;
  std::fflush(stdout);
  FILE *saved = stdout;
  stdout = open_memstream(&text, &size);
  action();
  std::fclose(stdout);
  stdout = saved;
  std::string result(text, size);
  std::free(text);
  return result;
}

} // namespace fuzz
