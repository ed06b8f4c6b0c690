// Fuzz target for the Ant pattern translation. The input is a pattern, a NUL
// byte, then a subject (a version text, up to its own first NUL).
//
// Each pattern is translated and compiled both case-sensitively and
// case-insensitively. The expression must be anchored and bounded in
// length; compile_ant_pattern must agree with compiling the translation;
// a pattern made only of wildcards, separators and ordinary characters must
// always compile (unless its program outgrows the engine, which must then
// refuse it cleanly) and must match exactly the subjects that a direct
// wildcard matcher accepts. Case-insensitive matching must accept whatever
// the case-sensitive expression accepts, as long as no bracket class is
// rewritten.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "common/settings.h"
#include "fuzz_support.h"
#include "patterns/patterns.h"
#include "regex/regexp.h"

namespace {

// The characters that reach the expression unchanged and keep a meaning
// there; a pattern without them is a plain wildcard pattern.
bool has_expression_syntax(const std::string &pattern) {
  return pattern.find_first_of("^$[()|+") != std::string::npos;
}

bool has_ascii_letter(const std::string &text) {
  for (char c : text) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
      return true;
  }
  return false;
}

enum class Piece { AnyRun, RunWithinFolder, AnyChar, Separator, Literal };

struct Token {
  Piece piece;
  char literal = 0;
};

// The wildcard pattern as a list of pieces: "**" (swallowing one separator
// right behind it), "*", "?", either separator, or one literal character.
std::vector<Token> tokenize(const std::string &pattern) {
  std::vector<Token> tokens;
  for (std::size_t at = 0; at < pattern.size(); ++at) {
    char c = pattern[at];
    if (c == '*' && at + 1 < pattern.size() && pattern[at + 1] == '*') {
      tokens.push_back({Piece::AnyRun});
      ++at;
      if (at + 1 < pattern.size() && (pattern[at + 1] == '/' || pattern[at + 1] == '\\'))
        ++at;
    } else if (c == '*') {
      tokens.push_back({Piece::RunWithinFolder});
    } else if (c == '?') {
      tokens.push_back({Piece::AnyChar});
    } else if (c == '/' || c == '\\') {
      tokens.push_back({Piece::Separator});
    } else {
      tokens.push_back({Piece::Literal, c});
    }
  }
  return tokens;
}

char fold(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

// Whole-text wildcard matching by dynamic programming over (piece, position).
bool wildcard_matches(const std::vector<Token> &tokens, const std::string &subject,
                      bool case_insensitive) {
  std::size_t width = subject.size() + 1;
  // can[t * width + s]: pieces t.. match subject[s..].
  std::vector<char> can((tokens.size() + 1) * width, 0);
  can[tokens.size() * width + subject.size()] = 1;
  for (std::size_t t = tokens.size(); t-- > 0;) {
    const Token &token = tokens[t];
    for (std::size_t s = subject.size() + 1; s-- > 0;) {
      bool here = s < subject.size();
      char c = here ? subject[s] : 0;
      bool skip = can[(t + 1) * width + s], stay = here && can[t * width + s + 1];
      bool step = here && can[(t + 1) * width + s + 1];
      switch (token.piece) {
      case Piece::AnyRun:
        can[t * width + s] = skip || stay;
        break;
      case Piece::RunWithinFolder:
        can[t * width + s] = skip || (stay && c != '\\');
        break;
      case Piece::AnyChar:
        can[t * width + s] = step;
        break;
      case Piece::Separator:
        can[t * width + s] = step && c == '\\';
        break;
      case Piece::Literal:
        can[t * width + s] =
            step && (case_insensitive ? fold(c) == fold(token.literal) : c == token.literal);
        break;
      }
    }
  }
  return can[0] != 0;
}

// Beyond this many expression characters a program may exceed what the
// engine accepts (at most three program bytes per character).
constexpr std::size_t kSurelyCompilable = 10000;

enum class Outcome { Refused, NoMatch, Match };

// Translates, compiles and matches with one setting of the flag.
Outcome check_one_way(const std::string &pattern, const std::string &subject,
                      bool case_insensitive) {
  std::string expression = translate_ant_pattern(pattern, case_insensitive);
  if (expression.size() < 2 || expression.front() != '^' || expression.back() != '$')
    fuzz::fail("translation is not anchored: '%s'", fuzz::visible(expression).c_str());
  if (expression.size() > 5 * pattern.size() + 2)
    fuzz::fail("translation grew more than five characters per pattern character");

  g_settings.case_insensitive = case_insensitive;
  PatternEntry entry{pattern, nullptr};
  bool compiled = compile_ant_pattern(entry);
  g_settings.case_insensitive = false;
  if (compiled != (entry.compiled != nullptr))
    fuzz::fail("compile_ant_pattern result disagrees with its entry");
  if (compiled != (compile_regexp(expression.c_str()) != nullptr))
    fuzz::fail("compile_ant_pattern disagrees with compiling its translation");

  bool plain_wildcards = !has_expression_syntax(pattern);
  if (!compiled) {
    if (plain_wildcards && expression.size() <= kSurelyCompilable)
      fuzz::fail("wildcard pattern refused: '%s'", fuzz::visible(pattern).c_str());
    return Outcome::Refused;
  }
  bool matched = execute_regexp(entry.compiled.get(), subject.c_str()) != 0;
  if (plain_wildcards && pattern.size() * (subject.size() + 1) <= 200000 &&
      matched != wildcard_matches(tokenize(pattern), subject, case_insensitive))
    fuzz::fail("pattern '%s' %s subject '%s' (case-insensitive %d)", fuzz::visible(pattern).c_str(),
               matched ? "matched" : "did not match", fuzz::visible(subject).c_str(),
               case_insensitive);
  return matched ? Outcome::Match : Outcome::NoMatch;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const char *bytes = reinterpret_cast<const char *>(data);
  const char *separator = static_cast<const char *>(std::memchr(bytes, 0, size));
  const char *pattern_end = separator == nullptr ? bytes + size : separator;
  std::string pattern(bytes, pattern_end); // an argument holds no NUL
  std::string subject;
  if (separator != nullptr)
    subject = std::string(separator + 1, bytes + size).c_str();

  Outcome exact = check_one_way(pattern, subject, false);
  Outcome folded = check_one_way(pattern, subject, true);
  if (exact == Outcome::Match && folded == Outcome::NoMatch &&
      pattern.find('[') == std::string::npos)
    fuzz::fail("case-insensitive pattern rejects what the exact one accepts");
  if (!has_ascii_letter(pattern) &&
      translate_ant_pattern(pattern, false) != translate_ant_pattern(pattern, true))
    fuzz::fail("the flag changed a pattern without letters");
  return 0;
}
