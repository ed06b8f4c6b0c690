// Stripping the staging folder from output lines. (The prefixes that are
// built from TEMP, and the dump log, are checked end to end.)
#include <gtest/gtest.h>

#include <string>
#include <type_traits>

#include "runner/output.h"

namespace {

// Its stages hold references to one another: a copy would print through
// the original's.
static_assert(!std::is_copy_constructible_v<OutputChain> &&
              !std::is_copy_assignable_v<OutputChain>);

using namespace std::string_literals;

struct Strip {
  const char *name;
  std::string chunk;
  std::string result;
};

class StripStagingPrefixes : public testing::TestWithParam<Strip> {};

TEST_P(StripStagingPrefixes, RemovesEveryOccurrenceOfEachForm) {
  const StagingPrefixes prefixes{"C:\\T\\tvk7.tmp\\", "C:\\Temp\\tvk7.tmp\\", "/t//tvk7.tmp/"};
  EXPECT_EQ(strip_staging_prefixes(prefixes, GetParam().chunk), GetParam().result);
}

// clang-format off
const Strip kStrips[] = {
  {"StagedPath", "C:\\T\\tvk7.tmp\\src\\A.java:3: bad", "src\\A.java:3: bad"},
  {"EveryForm", "x C:\\T\\tvk7.tmp\\a, C:\\Temp\\tvk7.tmp\\b, /t//tvk7.tmp/c", "x a, b, c"},
  {"PrefixAlone", "C:\\T\\tvk7.tmp\\", ""},
  // A removal that joins the two halves of another occurrence.
  {"JoinedByARemoval", "C:\\T\\tC:\\T\\tvk7.tmp\\vk7.tmp\\f", "f"},
  {"FolderWithoutItsSeparator", "folder C:\\T\\tvk7.tmp", "folder C:\\T\\tvk7.tmp"},
  {"FolderAndASlash", "C:\\T\\tvk7.tmp/f", "C:\\T\\tvk7.tmp/f"},
  {"OtherLetterCase", "c:\\t\\TVK7.TMP\\f", "c:\\t\\TVK7.TMP\\f"},
  // Every byte counts, NULs included, and prefixes are found across them.
  {"NulBytes", "a\0C:\\T\\tvk7.tmp\\b\0/t//tvk7.tmp/c\0"s, "a\0b\0c\0"s},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(, StripStagingPrefixes, testing::ValuesIn(kStrips),
                         [](const testing::TestParamInfo<Strip> &info) { return info.param.name; });

} // namespace
