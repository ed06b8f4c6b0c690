// Whether trelvik-git reads a file in place: only when the work tree holds
// exactly the staged blob, by git's object name, with the staged mode.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "git/sha1.h"
#include "git/snapshot.h"

namespace {

// The digest of TEXT, given to the hash in pieces of PIECE bytes.
std::string sha1(const std::string &text, bool hardware, std::size_t piece) {
  tvkgit::Sha1 hash(hardware);
  for (std::size_t at = 0; at < text.size(); at += piece)
    hash.add(text.data() + at, std::min(piece, text.size() - at));
  return hash.hex();
}

// The portable rounds and the processor's instructions (where it has them),
// with the bytes given whole and in pieces that straddle the 64-byte blocks.
class Sha1Digests : public testing::TestWithParam<bool> {};

TEST_P(Sha1Digests, Known) {
  const std::pair<std::string, const char *> digests[] = {
      {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
      // git's object name of the blob "ok\n"
      {std::string("blob 3\0ok\n", 10), "9766475a4185a151dc9d56d614ffb9aaea3bfd42"},
  };
  for (const auto &[text, hex] : digests) {
    for (std::size_t piece : {std::size_t(1) << 20, std::size_t(7), std::size_t(100)})
      EXPECT_EQ(sha1(text, GetParam(), piece), hex)
          << text.size() << " bytes in pieces of " << piece;
  }
}

INSTANTIATE_TEST_SUITE_P(, Sha1Digests, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool> &info) {
                           return info.param ? "Hardware" : "Portable";
                         });

struct Placement {
  const char *name;
  std::string content; // of the work-tree file; none: a link to it
  bool executable;
  const char *mode;   // staged
  std::string object; // staged
  bool differs;       // git said the work tree differs
  bool in_place;
};

const std::string kOk = "9766475a4185a151dc9d56d614ffb9aaea3bfd42";

TEST(ExamineFiles, InPlaceOnlyWithTheStagedBytesAndMode) {
  const Placement rows[] = {
      {"same", "ok\n", false, "100644", kOk, false, true},
      {"same and executable", "ok\n", true, "100755", kOk, false, true},
      {"other bytes", "ok\r\n", false, "100644", kOk, false, false},
      {"executable, staged plain", "ok\n", true, "100644", kOk, false, false},
      {"plain, staged executable", "ok\n", false, "100755", kOk, false, false},
      {"git says it differs", "ok\n", false, "100644", kOk, true, false},
      {"a SHA-256 name", "ok\n", false, "100644", kOk + std::string(24, '0'), false, false},
      {"an upper-case name", "ok\n", false, "100644", "9766475A4185A151DC9D56D614FFB9AAEA3BFD42",
       false, false},
      {"a name with other letters", "ok\n", false, "100644",
       "g766475a4185a151dc9d56d614ffb9aaea3bfd42", false, false},
      {"missing", "", false, "100644", kOk, false, false},
  };
  char folder_name[] = "/tmp/tvkgit-unit-XXXXXX";
  std::string folder = mkdtemp(folder_name);
  std::vector<tvkgit::IndexFile> files;
  for (const Placement &row : rows) {
    std::string path = folder + "/" + std::to_string(files.size());
    if (std::string(row.name) != "missing") {
      std::ofstream(path, std::ios::binary) << row.content;
      chmod(path.c_str(), row.executable ? 0755 : 0644);
    }
    files.push_back({path, row.mode, row.object, row.differs});
  }
  // A link to a file that holds the bytes is not the file itself.
  symlink((folder + "/0").c_str(), (folder + "/link").c_str());
  files.push_back({folder + "/link", "100644", kOk, false});
  std::vector<const tvkgit::IndexFile *> pointers;
  for (const tvkgit::IndexFile &file : files)
    pointers.push_back(&file);
  std::vector<char> in_place;
  std::uint64_t bytes = 0;
  tvkgit::examine_files(pointers, &in_place, &bytes);
  for (std::size_t i = 0; i < std::size(rows); ++i)
    EXPECT_EQ(in_place[i] != 0, rows[i].in_place) << rows[i].name;
  EXPECT_FALSE(in_place.back()) << "a link";
  std::filesystem::remove_all(folder);
}

} // namespace
