// Shared helpers of the expression engine's tests.
#pragma once

#include <string>
#include <vector>

#include "regex/regexp.h"

namespace regex_test {

// Collects the engine's failure messages while alive, then puts the
// previous hook back.
struct HookCapture {
  HookCapture() {
    received().clear();
    regexp_error_hook = [](const char *message) { received().push_back(message); };
  }
  ~HookCapture() { regexp_error_hook = previous; }
  HookCapture(const HookCapture &) = delete;
  static std::vector<std::string> &received() {
    static std::vector<std::string> messages;
    return messages;
  }
  const RegexpErrorHook previous = regexp_error_hook;
};

// UNIT repeated (and cut) to exactly LENGTH characters.
inline std::string repeated(const std::string &unit, std::size_t length) {
  std::string text;
  while (text.size() < length)
    text += unit;
  text.resize(length);
  return text;
}

} // namespace regex_test
