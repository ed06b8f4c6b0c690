// Pairing committed files with their versions whatever the order of the
// lines: files of the same name at several depths, under a workspace root
// named unlike the repository's, each reach the checker at their own path.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "e2e/harness.h"

namespace {

// A library tree of a hundred files in which a few names come back in
// every package, folders whose names start alike among them, with the lines
// shuffled: every copy lands in its own folder.
TEST(Pairing, ALargeTreeWithRepeatedNamesInAnyOrder) {
  const std::string kPackages[] = {"",      "json/",    "json/tests/", "email/",   "email/mime/",
                                   "xml/",  "xml/dom/", "xmlrpc/",     "xml/sax/", "http/",
                                   "tests/"};
  const std::string kNames[] = {"__init__.py", "abc.py", "util.py", "base.py", "errors.py",
                                "tests.py",    "README", "x.py",    "main.py", "data.txt"};
  e2e::Session session;
  std::vector<std::string> files, listing;
  for (const std::string &package : kPackages) {
    for (const std::string &name : kNames) {
      files.push_back(package + name);
      session.workspace.write("ws/usr/lib/py3/" + files.back(), std::string(files.size(), 'c'));
      listing.push_back("py/" + files.back() + " " + std::to_string(files.size()) + "\n");
    }
  }
  std::sort(listing.begin(), listing.end());
  std::vector<std::size_t> file_order(files.size()), version_order(files.size());
  std::iota(file_order.begin(), file_order.end(), 0);
  std::iota(version_order.begin(), version_order.end(), 0);
  std::mt19937 random(668);
  std::shuffle(file_order.begin(), file_order.end(), random);
  std::shuffle(version_order.begin(), version_order.end(), random);
  std::string input = e2e::checker({"list"}) + "\n";
  for (std::size_t i : file_order)
    input += session.file_line("ws/usr/lib/py3/" + files[i], std::string(i + 1, 'c'));
  for (std::size_t i : version_order) {
    std::string version = "\\py\\" + files[i] + "\n";
    std::replace(version.begin(), version.end(), '/', '\\');
    input += version;
  }
  e2e::Result result = session.run({"**/*"}, input);
  std::string expected;
  for (const std::string &line : listing)
    expected += line;
  EXPECT_TRUE(result.out == e2e::text(expected)) << result.out.substr(0, 2000);
  EXPECT_EQ(result.code, 0u);
  EXPECT_TRUE(session.temp_listing().empty());
}

} // namespace
