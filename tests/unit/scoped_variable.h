// Sets or removes an environment variable for the life of the object and
// puts back what was there before.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

class ScopedVariable {
public:
  // Keeps the current value for now.
  explicit ScopedVariable(const char *name) : name_(name) {
    if (const char *old = std::getenv(name))
      old_ = old;
  }
  ScopedVariable(const char *name, const std::optional<std::string> &value) : ScopedVariable(name) {
    set(value);
  }
  ~ScopedVariable() { set(old_); }
  ScopedVariable(const ScopedVariable &) = delete;
  ScopedVariable &operator=(const ScopedVariable &) = delete;

  void set(const std::optional<std::string> &value) {
#ifdef _WIN32
    std::string assignment = std::string(name_) + "=" + value.value_or("");
    _putenv(assignment.c_str()); // "NAME=" removes the variable
#else
    if (value)
      setenv(name_, value->c_str(), 1);
    else
      unsetenv(name_);
#endif
  }

private:
  const char *name_;
  std::optional<std::string> old_;
};
