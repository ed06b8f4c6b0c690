// Ant-style path patterns: translation into anchored expressions, the
// include and exclude lists, and the verdicts over version texts.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/commit.h"
#include "regex/regexp.h"

struct PatternEntry {
  std::string source;               // the pattern argument as typed
  std::unique_ptr<Regexp> compiled; // null when the expression was refused
};

// Patterns in command-line order. An empty list sets no condition (no
// include list: everything is allowed; no exclude list: nothing is denied).
using PatternList = std::vector<PatternEntry>;

// The anchored expression text for an Ant pattern. Letters become two-case
// classes when CASE_INSENSITIVE is set.
std::string translate_ant_pattern(const std::string &source, bool case_insensitive);

// Translates ENTRY's source (letters in either case with CASE_INSENSITIVE),
// reports the expression at debug level 1 and compiles it. False when it
// does not compile.
bool compile_ant_pattern(PatternEntry &entry, bool case_insensitive);

// True as soon as one entry of LIST matches TEXT.
bool any_pattern_matches(const PatternList &list, const char *text);

// The versions-only verdict: prints a line per rejected version and returns
// 0 when every version passed, 1 otherwise.
int judge_versions(const VersionTable &versions, const PatternList &include,
                   const PatternList &exclude);

// Whether the staging loop copies the file of VERSION.
bool is_selected_for_staging(const char *version, const PatternList &include,
                             const PatternList &exclude);
