#include "git/checks.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace tvkgit {
namespace {

bool equals_ignoring_case(std::string_view text, const char *word) {
  return text.size() == std::strlen(word) &&
         std::equal(text.begin(), text.end(), word,
                    [](char a, char b) { return (a >= 'A' && a <= 'Z' ? a - 'A' + 'a' : a) == b; });
}

// A boolean as git reads one; VALUE is none for a key written without "=".
std::optional<bool> parse_bool(const std::optional<std::string> &value) {
  if (!value)
    return true;
  for (const char *word : {"true", "yes", "on"}) {
    if (equals_ignoring_case(*value, word))
      return true;
  }
  for (const char *word : {"false", "no", "off"}) {
    if (equals_ignoring_case(*value, word))
      return false;
  }
  if (value->empty())
    return false;
  std::size_t start = (*value)[0] == '-' ? 1 : 0;
  if (start == value->size() || !std::all_of(value->begin() + start, value->end(),
                                             [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  return value->find_first_not_of("-0") != std::string::npos;
}

// Whether the double quotes of COMMAND open and close in pairs under the
// rules the gate splits a command line by: 2n backslashes before a quote
// leave it acting, 2n+1 make it literal, and "" inside quotes is a literal
// quote. git ends a value at an unquoted ';' or '#', which mostly leaves
// one quote open.
bool quotes_pair_up(std::string_view command) {
  bool quoted = false;
  std::size_t backslashes = 0;
  for (std::size_t i = 0; i < command.size(); ++i) {
    char c = command[i];
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    bool literal = c == '"' && backslashes % 2 == 1;
    backslashes = 0;
    if (c != '"' || literal)
      continue;
    if (quoted && i + 1 < command.size() && command[i + 1] == '"')
      ++i;
    else
      quoted = !quoted;
  }
  return !quoted;
}

bool holds_line_end(const std::string &text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

struct Field {
  const char *key;
  bool Check::*flag; // null: a text key
};

constexpr Field kFields[] = {
    {"command", nullptr},
    {"include", nullptr},
    {"exclude", nullptr},
    {"context", nullptr},
    {"ignore-case", &Check::ignore_case},
    {"strip", &Check::strip},
    {"stderr-fails", &Check::stderr_fails},
    {"stdout-fails", &Check::stdout_fails},
    {"dump", &Check::dump},
};

// Applies one key of CHECK; false with *ERROR on a fault.
bool apply(Check *check, std::string_view key, const std::optional<std::string> &value,
           std::string *error) {
  std::string where = "check '" + check->name + "': ";
  const Field *field = std::find_if(std::begin(kFields), std::end(kFields),
                                    [&](const Field &f) { return key == f.key; });
  if (field == std::end(kFields)) {
    *error = where + "unknown key '" + std::string(key) + "'";
    return false;
  }
  if (field->flag != nullptr) {
    std::optional<bool> flag = parse_bool(value);
    if (!flag) {
      *error = where + "'" + std::string(key) + "' is not a boolean: '" + *value + "'";
      return false;
    }
    check->*field->flag = *flag;
    return true;
  }
  std::string text = value.value_or("");
  if (holds_line_end(text)) {
    *error = where + "'" + std::string(key) + "' holds a line end";
    return false;
  }
  if (key == "command") {
    if (!quotes_pair_up(text)) {
      *error = where + "the double quotes of its command do not pair up: git read '" + text +
               "'. In .trelvik, as in every git configuration file, ';' and '#' outside double "
               "quotes start a comment; write the whole value in double quotes, with \\\" for "
               "each quote inside: command = \"sh -c \\\"cd src; make\\\"\"";
      return false;
    }
    check->command = text;
    return true;
  }
  // The gate takes an argument that is empty or starts with a dash for an
  // option: such a pattern is refused, so that a check means the same to
  // the gate run by hand.
  if (text.empty() || text[0] == '-') {
    *error = where + "the gate cannot take the pattern '" + text + "'";
    return false;
  }
  (key == "include"   ? check->include
   : key == "exclude" ? check->exclude
                      : check->context)
      .push_back(text);
  return true;
}

// Applies one key of the [trelvik] section; false with *ERROR on a fault.
bool apply_setting(Settings *settings, std::string_view key,
                   const std::optional<std::string> &value, std::string *error) {
  if (key == "parallel") {
    std::optional<bool> flag = parse_bool(value);
    if (!flag) {
      *error = "[trelvik]: 'parallel' is not a boolean: '" + *value + "'";
      return false;
    }
    settings->parallel = *flag;
    return true;
  }
  if (key == "staging" && value && !value->empty() && !holds_line_end(*value)) {
    settings->staging = *value;
    return true;
  }
  *error = key == "staging" ? "[trelvik]: 'staging' needs a folder"
                            : "[trelvik]: unknown key '" + std::string(key) + "'";
  return false;
}

} // namespace

bool parse_checks(std::string_view listing, std::vector<Check> *checks, Settings *settings,
                  std::string *error) {
  checks->clear();
  *settings = Settings();
  while (!listing.empty()) {
    std::size_t end = listing.find('\0');
    std::string_view entry = listing.substr(0, end);
    listing = end == std::string_view::npos ? std::string_view() : listing.substr(end + 1);
    std::size_t line_end = entry.find('\n');
    std::string_view name = entry.substr(0, line_end);
    std::optional<std::string> value;
    if (line_end != std::string_view::npos)
      value = std::string(entry.substr(line_end + 1));
    std::size_t first_dot = name.find('.');
    std::size_t last_dot = name.rfind('.');
    std::string_view section = name.substr(0, first_dot);
    if (section == "trelvik" && first_dot == last_dot) {
      if (!apply_setting(settings, name.substr(last_dot + 1), value, error))
        return false;
      continue;
    }
    if (section != "check") {
      *error = "unknown section '" + std::string(section) +
               "': each check is a section [check \"name\"], the settings are [trelvik]";
      return false;
    }
    if (first_dot == last_dot) {
      *error = "a check needs a name, as in [check \"style\"]";
      return false;
    }
    std::string check_name(name.substr(first_dot + 1, last_dot - first_dot - 1));
    auto found = std::find_if(checks->begin(), checks->end(),
                              [&](const Check &c) { return c.name == check_name; });
    if (found == checks->end()) {
      checks->push_back(Check{});
      checks->back().name = check_name;
      found = checks->end() - 1;
    }
    if (!apply(&*found, name.substr(last_dot + 1), value, error))
      return false;
  }
  for (const Check &check : *checks) {
    if (check.command.find_first_not_of(" \t") == std::string::npos) {
      *error = "check '" + check.name + "' has no command";
      return false;
    }
  }
  if (checks->empty()) {
    *error = "no check in .trelvik";
    return false;
  }
  return true;
}

} // namespace tvkgit

namespace tvkgit {
namespace {

// Compiles each of SOURCES into LIST; false with *ERROR at the first that
// does not compile.
bool compile_list(const Check &check, const std::vector<std::string> &sources, PatternList *list,
                  std::string *error) {
  for (const std::string &source : sources) {
    // Repository paths have no leading separator: one in a pattern anchors
    // it at the top, where every pattern is anchored anyway.
    std::string_view anchored = source;
    if (anchored[0] == '/' || anchored[0] == '\\')
      anchored.remove_prefix(1);
    PatternEntry entry;
    entry.source = source;
    entry.compiled =
        compile_regexp(translate_ant_pattern(std::string(anchored), check.ignore_case).c_str());
    if (entry.compiled == nullptr) {
      *error = "check '" + check.name + "': invalid pattern '" + source + "'";
      return false;
    }
    list->push_back(std::move(entry));
  }
  return true;
}

bool matches(const PatternList &list, std::string_view path) {
  std::string version(path);
  std::replace(version.begin(), version.end(), '/', '\\');
  return any_pattern_matches(list, version.c_str());
}

} // namespace

bool Selector::compile(const Check &check, std::string *error) {
  return compile_list(check, check.include, &include_, error) &&
         compile_list(check, check.exclude, &exclude_, error) &&
         compile_list(check, check.context, &context_, error);
}

bool Selector::selects(std::string_view path) const {
  return (include_.empty() || matches(include_, path)) &&
         (exclude_.empty() || !matches(exclude_, path));
}

bool Selector::wants_as_context(std::string_view path) const {
  return !context_.empty() && matches(context_, path);
}

} // namespace tvkgit
