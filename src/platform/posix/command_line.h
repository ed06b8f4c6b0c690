// Internal to the POSIX implementation: the checker command is one command
// line, as on Windows, and is cut into arguments the way the Windows C
// runtime cuts its own command line.
#pragma once

#include <string>
#include <vector>

namespace platform {

// Splits COMMAND into arguments:
// - blanks and tabs outside double quotes separate arguments;
// - double quotes group and are removed; inside quotes, two double quotes
//   in a row give one literal double quote and the quotes go on (as the
//   current Microsoft runtime does);
// - 2n backslashes before a double quote give n backslashes and the quote
//   acts; 2n+1 give n backslashes and a literal double quote;
// - any other backslash is literal.
// The first argument follows the same rules.
std::vector<std::string> split_command_line(const char *command);

} // namespace platform
