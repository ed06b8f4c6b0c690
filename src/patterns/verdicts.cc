#include <cstdio>

#include "common/diagnostics.h"
#include "patterns/patterns.h"

namespace {

enum class Verdict { Passed, NotAllowed, Denied };

Verdict judge(const char *version, const PatternList &include, const PatternList &exclude) {
  if (!include.empty() && !any_pattern_matches(include, version))
    return Verdict::NotAllowed;
  if (!exclude.empty() && any_pattern_matches(exclude, version))
    return Verdict::Denied;
  return Verdict::Passed;
}

} // namespace

bool any_pattern_matches(const PatternList &list, const char *text) {
  for (const PatternEntry &entry : list) {
    if (regexp_matches(entry.compiled.get(), text) == 1)
      return true;
  }
  return false;
}

int judge_versions(const VersionTable &versions, const PatternList &include,
                   const PatternList &exclude) {
  int result = 0;
  for (const VersionEntry &entry : versions) {
    const char *version = entry.version.c_str();
    switch (judge(version, include, exclude)) {
    case Verdict::NotAllowed:
      std::printf("'%s' is not in the allow list\n", version);
      result = 1;
      break;
    case Verdict::Denied:
      std::printf("'%s' is in the deny list\n", version);
      result = 1;
      break;
    case Verdict::Passed:
      log_debug1("'%s' is allowed", version);
      break;
    }
  }
  log_debug1("exit code is %d", result);
  return result;
}

bool is_selected_for_staging(const char *version, const PatternList &include,
                             const PatternList &exclude) {
  return judge(version, include, exclude) == Verdict::Passed;
}
