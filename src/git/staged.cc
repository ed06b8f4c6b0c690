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

// The first COUNT blank-separated fields of ENTRY, then the rest (a path,
// which may hold blanks); empty when ENTRY has fewer fields.
std::vector<std::string_view> fields_of(std::string_view entry, int count) {
  std::vector<std::string_view> fields;
  for (int i = 0; i < count; ++i) {
    std::size_t blank = entry.find(' ');
    if (blank == std::string_view::npos)
      return {};
    fields.push_back(entry.substr(0, blank));
    entry.remove_prefix(blank + 1);
  }
  fields.push_back(entry);
  return fields;
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
  // Each entry: ":old-mode new-mode old-object new-object status", then the
  // path.
  std::vector<IndexFile> files;
  std::string_view entry, path;
  while (take_field(&listing, &entry) && take_field(&listing, &path)) {
    std::vector<std::string_view> fields = fields_of(entry, 4);
    if (fields.size() == 5 && !fields[4].empty() && fields[4][0] != 'D')
      files.push_back({std::string(path), std::string(fields[1]), std::string(fields[3]), false});
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
    std::vector<std::string_view> fields = fields_of(entry.substr(0, tab), 2);
    if (fields.size() != 3)
      continue;
    files.push_back({std::string(entry.substr(tab + 1)), std::string(fields[0]),
                     std::string(fields[1]), false});
  }
  return files;
}

std::vector<IndexFile> parse_tree_listing(std::string_view listing) {
  // Each entry: "mode type object\tpath".
  std::vector<IndexFile> files;
  std::string_view entry;
  while (take_field(&listing, &entry)) {
    std::size_t tab = entry.find('\t');
    std::vector<std::string_view> fields =
        fields_of(entry.substr(0, tab == std::string_view::npos ? 0 : tab), 2);
    if (fields.size() == 3)
      files.push_back({std::string(entry.substr(tab + 1)), std::string(fields[0]),
                       std::string(fields[2]), true});
  }
  return files;
}

FileKind kind_of(const IndexFile &file) {
  if (file.mode == "120000")
    return FileKind::Link;
  if (file.mode == "160000")
    return FileKind::Submodule;
  if (file.path.find_first_of("\\\r\n") != std::string::npos)
    return FileKind::Unusable;
  return FileKind::Regular;
}

std::string skip_line(const IndexFile &file, FileKind kind) {
  switch (kind) {
  case FileKind::Link:
    return "skipping symbolic link '" + shown(file.path) + "'";
  case FileKind::Submodule:
    return "skipping submodule '" + shown(file.path) + "'";
  case FileKind::Unusable:
  case FileKind::Regular:
    break;
  }
  return "'" + shown(file.path) + "' cannot be checked: its name holds a backslash or a line end";
}

} // namespace tvkgit
