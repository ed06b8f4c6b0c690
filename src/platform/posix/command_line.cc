// Cutting a command line into arguments as the Windows C runtime does.
//
// Assumes only the C++ standard library.
#include "platform/posix/command_line.h"

namespace platform {
namespace {

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

// Copies the backslashes starting at *P into ARGUMENT by the rules for
// backslashes before a double quote; leaves *P on the next character to
// look at (a quote that still acts, or the character after them).
void take_backslashes(const char **p, std::string *argument) {
  std::size_t count = 0;
  while (**p == '\\') {
    ++count;
    ++*p;
  }
  if (**p != '"') {
    argument->append(count, '\\');
    return;
  }
  argument->append(count / 2, '\\');
  if (count % 2 == 1) {
    *argument += '"';
    ++*p;
  }
}

// One argument starting at *P (not a blank); leaves *P after it.
std::string take_argument(const char **p) {
  std::string argument;
  bool quoted = false;
  while (**p != '\0' && (quoted || !is_blank(**p))) {
    if (**p == '\\') {
      take_backslashes(p, &argument);
    } else if (**p == '"') {
      if (quoted && (*p)[1] == '"') {
        argument += '"';
        *p += 2;
      } else {
        quoted = !quoted;
        ++*p;
      }
    } else {
      argument += *(*p)++;
    }
  }
  return argument;
}

} // namespace

std::vector<std::string> split_command_line(const char *command) {
  std::vector<std::string> arguments;
  const char *p = command;
  for (;;) {
    while (is_blank(*p))
      ++p;
    if (*p == '\0')
      return arguments;
    arguments.push_back(take_argument(&p));
  }
}

} // namespace platform
