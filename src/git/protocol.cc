#include "git/protocol.h"

#include <algorithm>

namespace tvkgit {
namespace {

std::string backslashed(std::string text) {
  std::replace(text.begin(), text.end(), '/', '\\');
  return text;
}

bool starts_with(const std::string &text, std::string_view prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

} // namespace

std::string gate_command_line(const Check &check) {
  std::string line = "trelvik -w";
  const std::pair<bool, const char *> options[] = {
      {check.strip, " -s"},
      {check.stderr_fails, " -e"},
      {check.stdout_fails, " -o"},
      {check.dump, " -d"},
  };
  for (const auto &[on, option] : options) {
    if (on)
      line += option;
  }
  return line;
}

std::vector<Batch> batch_commands(const std::string &command, const std::vector<std::string> &names,
                                  std::size_t limit) {
  std::vector<std::string_view> pieces; // the command around each mark
  for (std::size_t start = 0;;) {
    std::size_t mark = command.find(kFilesMark, start);
    pieces.push_back(std::string_view(command).substr(start, mark - start));
    if (mark == std::string::npos)
      break;
    start = mark + kFilesMark.size();
  }
  if (pieces.size() == 1)
    return {Batch{command, names.size()}};
  std::size_t marks = pieces.size() - 1;
  std::size_t fixed = command.size() - marks * kFilesMark.size();
  std::vector<Batch> batches;
  std::string list;
  std::size_t count = 0;
  auto flush = [&] {
    std::string line(pieces[0]);
    for (std::size_t i = 1; i < pieces.size(); ++i)
      line += list + std::string(pieces[i]);
    batches.push_back({std::move(line), count});
    list.clear();
    count = 0;
  };
  for (const std::string &name : names) {
    std::string quoted = quote_argument(name);
    if (count > 0 && fixed + marks * (list.size() + 1 + quoted.size()) > limit)
      flush();
    list += (count > 0 ? " " : "") + quoted;
    ++count;
  }
  flush(); // the last batch, or the only one, empty when there are no names
  return batches;
}

std::string source_path(const std::string &folder, const std::string &path) {
  return folder + ".\\" + backslashed(path);
}

std::string protocol_text(const std::string &command, const std::vector<StagedFile> &files) {
  std::string text;
  // A command that looks like a header line would be taken for one; a
  // leading blank keeps it the command, and the split drops the blank.
  for (const char *header : {"echo: ", "clientpath: ", "viewpath: "}) {
    if (starts_with(command, header))
      text += ' ';
  }
  text += command + "\n";
  std::vector<std::string> versions;
  for (const StagedFile &file : files) {
    text += "\\\\" + file.source + "\n";
    versions.push_back("\\" + backslashed(file.path));
  }
  std::stable_sort(versions.begin(), versions.end(),
                   [](const std::string &a, const std::string &b) { return a.size() < b.size(); });
  for (const std::string &version : versions)
    text += version + "\n";
  return text;
}

} // namespace tvkgit
