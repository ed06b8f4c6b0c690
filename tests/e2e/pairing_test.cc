// Pairing committed files with their versions whatever the order of the
// lines: files of the same name at several depths, under a workspace root
// named unlike the repository's, each reach the checker at their own path.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "e2e/harness.h"

namespace {

// A library tree of hundreds of files in which a few names come back in
// every package, folders whose names start alike among them, with the lines
// shuffled, and then in the file order reversed: every copy lands in its
// own folder.
TEST(Pairing, ALargeTreeWithRepeatedNamesInAnyOrder) {
  // clang-format off
  const char *const kPackages[] = {"", "json/", "json/tests/", "email/", "email/mime/", "importlib/",
      "importlib/metadata/", "xml/", "xml/dom/", "xml/etree/", "xmlrpc/", "xml/sax/", "http/", "urllib/", "tests/"};
  const char *const kNames[] = {"__init__.py", "abc.py", "util.py", "_common.py", "base.py", "errors.py",
      "parser.py", "client.py", "server.py", "tests.py", "build.xml", "README", "x.py", "y.py", "z.py", "main.py",
      "config.py", "core.py", "types.py", "io.py", "data.txt"};
  // clang-format on
  e2e::Session session;
  std::vector<std::string> files, listing;
  for (const char *package : kPackages) {
    for (const char *name : kNames) {
      files.push_back(std::string(package) + name);
      std::string content(files.size(), 'c');
      session.workspace.write("ws/usr/lib/py3/" + files.back(), content);
      listing.push_back("py/" + files.back() + " " + std::to_string(content.size()) + "\n");
    }
  }
  std::sort(listing.begin(), listing.end());
  std::string expected;
  for (const std::string &line : listing)
    expected += line;
  std::vector<std::size_t> file_order(files.size()), version_order(files.size());
  for (std::size_t i = 0; i < files.size(); ++i)
    file_order[i] = version_order[i] = i;
  std::mt19937 random(668);
  std::shuffle(file_order.begin(), file_order.end(), random);
  std::shuffle(version_order.begin(), version_order.end(), random);
  for (int round = 0; round < 2; ++round) {
    std::string input = e2e::checker({"list"}) + "\n";
    for (std::size_t i : file_order)
      input += "ws\\\\" +
               e2e::backslashed(session.workspace.path() + "/ws/usr/lib/py3/" + files[i]) + "\n";
    for (std::size_t i : version_order) {
      std::string version = "\\py\\" + files[i];
      std::replace(version.begin(), version.end(), '/', '\\');
      input += version + "\n";
    }
    e2e::Result result = session.run({"**/*"}, input);
    EXPECT_TRUE(result.out == e2e::text(expected)) << result.out.substr(0, 2000);
    EXPECT_EQ(result.code, 0u);
    EXPECT_TRUE(session.temp_listing().empty());
    std::reverse(file_order.begin(), file_order.end());
  }
}

} // namespace
