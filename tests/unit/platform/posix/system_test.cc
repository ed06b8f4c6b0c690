#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "platform/platform.h"
#include "platform/posix/paths.h"

namespace {

// Sets or removes a variable for the life of the object.
class ScopedVariable {
public:
  ScopedVariable(const char *name, std::optional<std::string> value) : name_(name) {
    if (const char *old = std::getenv(name))
      old_ = old;
    if (value)
      setenv(name, value->c_str(), 1);
    else
      unsetenv(name);
  }
  ~ScopedVariable() {
    if (old_)
      setenv(name_, old_->c_str(), 1);
    else
      unsetenv(name_);
  }

private:
  const char *name_;
  std::optional<std::string> old_;
};

TEST(PosixSystem, TempFolderFallsBackFromTempToTmpdirToTmp) {
  struct Row {
    std::optional<std::string> temp, tmpdir;
    std::string expected;
  } rows[] = {
      {"/a", "/b", "/a"},
      {std::nullopt, "/b", "/b"},
      {std::nullopt, std::nullopt, "/tmp"},
      {"", "/b", ""}, // taken as it is
      {"rel\\x", std::nullopt, "rel\\x"},
  };
  for (const Row &row : rows) {
    ScopedVariable temp("TEMP", row.temp);
    ScopedVariable tmpdir("TMPDIR", row.tmpdir);
    std::string folder;
    ASSERT_TRUE(platform::temp_folder(&folder));
    EXPECT_EQ(folder, row.expected);
  }
}

TEST(PosixSystem, SystemPathsTurnBackslashesIntoSlashes) {
  EXPECT_EQ(platform::system_path("\\tmp\\x\\a b.c"), "/tmp/x/a b.c");
  EXPECT_EQ(platform::system_path("C:\\\\y/z"), "C://y/z");
  EXPECT_EQ(platform::system_path(""), "");
}

} // namespace
