#include <cctype>

#include "common/diagnostics.h"
#include "patterns/patterns.h"

namespace {

bool is_separator(char c) {
  return c == '/' || c == '\\';
}

bool is_ascii_letter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

} // namespace

std::string translate_ant_pattern(const std::string &source, bool case_insensitive) {
  std::string expression = "^";
  expression.reserve(source.size() * 2 + 2);
  const char *p = source.c_str(); // a NUL inside an argument cannot occur
  while (*p != '\0') {
    char c = *p;
    if (c == '*' && p[1] == '*') {
      expression += ".*";
      p += 2;
      if (is_separator(*p))
        ++p; // "**/" leaves no separator behind
      continue;
    }
    if (c == '*') {
      expression += "[^\\]*";
    } else if (c == '?') {
      expression += ".";
    } else if (c == '.') {
      expression += "\\.";
    } else if (is_separator(c)) {
      expression += "\\\\";
    } else if (case_insensitive && is_ascii_letter(c)) {
      char lower = static_cast<char>(c | 0x20);
      expression += '[';
      expression += lower;
      expression += static_cast<char>(lower & ~0x20);
      expression += ']';
    } else {
      expression += c;
    }
    ++p;
  }
  expression += '$';
  return expression;
}

bool compile_ant_pattern(PatternEntry &entry, bool case_insensitive) {
  std::string expression = translate_ant_pattern(entry.source, case_insensitive);
  log_debug1("Pattern '%s' compiles to '%s'", entry.source.c_str(), expression.c_str());
  entry.compiled = compile_regexp(expression.c_str());
  return entry.compiled != nullptr;
}
