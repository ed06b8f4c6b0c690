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

using e2e::text;

struct Committed {
  std::string relative; // below the workspace root and the repository root
  std::string content;
};

class Pairing : public testing::Test, protected e2e::Session {
protected:
  // Runs the list checker over FILES, the file lines in FILE_ORDER and the
  // version lines in VERSION_ORDER (indexes into FILES).
  e2e::Result run(const std::vector<Committed> &files, const std::vector<std::size_t> &file_order,
                  const std::vector<std::size_t> &version_order) {
    std::string input = e2e::checker({"list"}) + "\n";
    for (std::size_t i : file_order) {
      std::string path = workspace.write("ws/usr/lib/py3/" + files[i].relative, files[i].content);
      input += "ws\\\\" + e2e::backslashed(path) + "\n";
    }
    for (std::size_t i : version_order) {
      std::string version = "\\py\\" + files[i].relative;
      std::replace(version.begin(), version.end(), '/', '\\');
      input += version + "\n";
    }
    return Session::run({"**/*"}, input);
  }

  // What the list checker prints when every file got its own version.
  static std::string listing(const std::vector<Committed> &files) {
    std::vector<std::string> lines;
    for (const Committed &file : files)
      lines.push_back("py/" + file.relative + " " + std::to_string(file.content.size()) + "\n");
    std::sort(lines.begin(), lines.end());
    std::string all;
    for (const std::string &line : lines)
      all += line;
    return all;
  }
};

TEST_F(Pairing, SameNamesAtSeveralDepthsInEveryOrder) {
  const std::vector<Committed> two = {{"build.xml", "root"}, {"app/build.xml", "nested!"}};
  const std::vector<Committed> three = {
      {"__init__.py", "1"}, {"x/__init__.py", "22"}, {"x/y/__init__.py", "333"}};
  for (const auto &files : {two, three}) {
    std::vector<std::size_t> order(files.size());
    for (std::size_t i = 0; i < order.size(); ++i)
      order[i] = i;
    std::vector<std::size_t> reversed(order.rbegin(), order.rend());
    for (const auto &file_order : {order, reversed}) {
      for (const auto &version_order : {order, reversed}) {
        e2e::Result result = run(files, file_order, version_order);
        EXPECT_EQ(result.out, text(listing(files)))
            << files.size() << " " << file_order[0] << " " << version_order[0];
        EXPECT_EQ(result.code, 0u);
        EXPECT_TRUE(temp_listing().empty());
      }
    }
  }
}

// A library tree of hundreds of files in which a few names come back in
// every package, folders whose names start alike among them, with the lines
// shuffled: every copy lands in its own folder.
TEST_F(Pairing, ALargeTreeWithRepeatedNamesPasses) {
  const char *const kPackages[] = {"",
                                   "json/",
                                   "json/tests/",
                                   "email/",
                                   "email/mime/",
                                   "importlib/",
                                   "importlib/metadata/",
                                   "xml/",
                                   "xml/dom/",
                                   "xml/etree/",
                                   "xmlrpc/",
                                   "xml/sax/",
                                   "http/",
                                   "urllib/",
                                   "tests/"};
  const char *const kNames[] = {
      "__init__.py", "abc.py",    "util.py",   "_common.py", "base.py",  "errors.py", "parser.py",
      "client.py",   "server.py", "tests.py",  "build.xml",  "README",   "x.py",      "y.py",
      "z.py",        "main.py",   "config.py", "core.py",    "types.py", "io.py",     "data.txt"};
  std::vector<Committed> files;
  for (const char *package : kPackages) {
    for (const char *name : kNames)
      files.push_back({std::string(package) + name, std::string(files.size() + 1, 'c')});
  }
  std::vector<std::size_t> file_order(files.size()), version_order(files.size());
  for (std::size_t i = 0; i < files.size(); ++i)
    file_order[i] = version_order[i] = i;
  std::mt19937 random(668);
  std::shuffle(file_order.begin(), file_order.end(), random);
  std::shuffle(version_order.begin(), version_order.end(), random);
  e2e::Result result = run(files, file_order, version_order);
  EXPECT_TRUE(result.out == text(listing(files))) << result.out.substr(0, 2000);
  EXPECT_EQ(result.code, 0u);
  EXPECT_TRUE(temp_listing().empty());
}

} // namespace
