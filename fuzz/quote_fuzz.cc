// Fuzz target for the file names that trelvik-git puts in place of
// {files}: quoted, cut into batches, then split by the gate as it splits
// every checker command line.
//
// The input is a list of names separated by NUL bytes; its first byte
// picks the command around the names and the length limit of a batch.
// Names with a line end are left out: no such name reaches a batch, as the
// gate's input could not carry it.
//
// Oracles: every batch splits back into exactly the command's own words
// with its share of the names in place of each {files}, in order; the
// batches take every name once, in order; and a batch stays within the
// limit unless it holds a single name.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "git/protocol.h"
#include "platform/posix/command_line.h"

namespace {

struct Template {
  const char *command;
  std::vector<std::string> before, between, after; // words around the marks
  int marks;
};

const Template kTemplates[] = {
    {"chk {files}", {"chk"}, {}, {}, 1},
    {"\"c k\" -x \"a b\" {files} --end", {"c k", "-x", "a b"}, {}, {"--end"}, 1},
    {"chk {files} and {files}", {"chk"}, {"and"}, {}, 2},
    {"chk none", {"chk", "none"}, {}, {}, 0},
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size == 0)
    return 0;
  const Template &shape = kTemplates[data[0] % 4];
  std::size_t limit = 16 + (data[0] >> 2) * 8;
  std::vector<std::string> names;
  std::string name;
  for (std::size_t i = 1; i <= size; ++i) {
    if (i < size && data[i] != '\0') {
      name += static_cast<char>(data[i]);
      continue;
    }
    if (name.find_first_of("\r\n") == std::string::npos)
      names.push_back(name);
    name.clear();
  }
  if (names.empty())
    return 0; // a check without files runs nothing
  std::vector<tvkgit::Batch> batches = tvkgit::batch_commands(shape.command, names, limit);
  std::size_t next = 0;
  for (const tvkgit::Batch &batch : batches) {
    if (shape.marks > 0 && batch.count != 1 && batch.command.size() > limit)
      fuzz::fail("a batch of %zu names is %zu long, over %zu", batch.count, batch.command.size(),
                 limit);
    if (next + batch.count > names.size() || (shape.marks > 0 && batch.count == 0))
      fuzz::fail("batches take %zu names of %zu", next + batch.count, names.size());
    std::vector<std::string> share(names.begin() + next, names.begin() + next + batch.count);
    next += batch.count;
    std::vector<std::string> wanted = shape.before;
    for (int mark = 0; mark < shape.marks; ++mark) {
      if (mark > 0)
        wanted.insert(wanted.end(), shape.between.begin(), shape.between.end());
      wanted.insert(wanted.end(), share.begin(), share.end());
    }
    wanted.insert(wanted.end(), shape.after.begin(), shape.after.end());
    std::vector<std::string> split = platform::split_command_line(batch.command.c_str());
    if (split != wanted)
      fuzz::fail("%s splits into %zu words, not the %zu wanted",
                 fuzz::visible(batch.command).c_str(), split.size(), wanted.size());
  }
  if (next != names.size())
    fuzz::fail("batches take %zu names of %zu", next, names.size());
  return 0;
}
