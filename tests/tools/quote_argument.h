// Quotes one argument so that the Windows C runtime's command-line parser
// gives it back as it was. Shared by the Wine launcher and the end-to-end
// harness, which build command lines for Windows programs.
#pragma once

#include <string>

inline std::string quote_argument(const std::string &argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos)
    return argument;
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  return quoted + "\"";
}
