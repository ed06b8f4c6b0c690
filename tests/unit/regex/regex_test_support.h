// Shared helpers of the expression engine's tests.
#pragma once

#include <string>
#include <vector>

#include "regex/regexp.h"

namespace regex_test {

// Installs a hook that collects the engine's failure messages for the
// lifetime of the object, then puts the previous hook back.
class HookCapture {
public:
  HookCapture() : previous_(regexp_error_hook) {
    messages().clear();
    regexp_error_hook = &collect;
  }
  ~HookCapture() { regexp_error_hook = previous_; }
  HookCapture(const HookCapture &) = delete;
  HookCapture &operator=(const HookCapture &) = delete;

  const std::vector<std::string> &received() const { return messages(); }

private:
  static std::vector<std::string> &messages() {
    static std::vector<std::string> all;
    return all;
  }
  static void collect(const char *message) { messages().push_back(message); }
  RegexpErrorHook previous_;
};

// [start, end) of a group as offsets into SUBJECT; -1 for an unset end.
struct Span {
  long start = -1;
  long end = -1;
  bool operator==(const Span &) const = default;
};

inline Span span_of(const Regexp &regexp, int group, const char *subject) {
  Span span;
  if (regexp.group_start[group] != nullptr)
    span.start = regexp.group_start[group] - subject;
  if (regexp.group_end[group] != nullptr)
    span.end = regexp.group_end[group] - subject;
  return span;
}

} // namespace regex_test
