#include "git/staged.h"

#include <cstdio>

namespace tvkgit {
namespace {

// Takes the next NUL-terminated field of *REST; false when none is left.
bool take_field(std::string_view *rest, std::string_view *field) {
  if (rest->empty())
    return false;
  std::size_t end = rest->find('\0');
  *field = rest->substr(0, end);
  *rest = end == std::string_view::npos ? std::string_view() : rest->substr(end + 1);
  return true;
}

// A name as one printable line: control characters and backslashes escaped.
std::string shown(const std::string &name) {
  std::string text;
  for (char c : name) {
    if (c == '\\') {
      text += "\\\\";
    } else if (c == '\n') {
      text += "\\n";
    } else if (c == '\r') {
      text += "\\r";
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(c));
      text += escaped;
    } else {
      text += c;
    }
  }
  return text;
}

} // namespace

std::vector<std::string> split_names(std::string_view listing) {
  std::vector<std::string> names;
  std::string_view field;
  while (take_field(&listing, &field)) {
    if (!field.empty())
      names.emplace_back(field);
  }
  return names;
}

std::vector<IndexFile> parse_raw_diff(std::string_view listing) {
  // Each change: ":old-mode new-mode old-id new-id status", then its path,
  // and for a rename or copy the new path after the old one.
  std::vector<IndexFile> files;
  std::string_view header;
  std::string_view path;
  while (take_field(&listing, &header) && take_field(&listing, &path)) {
    if (header.size() < 2 || header[0] != ':')
      continue;
    char status = header[header.rfind(' ') + 1];
    if ((status == 'R' || status == 'C') && !take_field(&listing, &path))
      break;
    std::size_t mode_start = header.find(' ') + 1;
    files.push_back({std::string(path), std::string(header.substr(mode_start, 6))});
  }
  return files;
}

std::vector<IndexFile> parse_index_listing(std::string_view listing) {
  // Each entry: "mode id stage\tpath".
  std::vector<IndexFile> files;
  std::string_view entry;
  while (take_field(&listing, &entry)) {
    std::size_t tab = entry.find('\t');
    if (tab == std::string_view::npos || tab < 2 || entry[tab - 1] != '0' || entry[tab - 2] != ' ')
      continue;
    files.push_back({std::string(entry.substr(tab + 1)), std::string(entry.substr(0, 6))});
  }
  return files;
}

Selection select_files(const std::vector<IndexFile> &files) {
  Selection selection;
  for (const IndexFile &file : files) {
    if (file.mode == "120000") {
      selection.skipped.push_back("skipping symbolic link '" + shown(file.path) + "'");
    } else if (file.mode == "160000") {
      selection.skipped.push_back("skipping submodule '" + shown(file.path) + "'");
    } else if (file.path.find_first_of("\\\r\n") != std::string::npos) {
      selection.unusable.push_back("'" + shown(file.path) +
                                   "' cannot be checked: its name holds a backslash or a line end");
    } else {
      selection.paths.push_back(file.path);
    }
  }
  return selection;
}

} // namespace tvkgit
