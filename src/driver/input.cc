#include "driver/input.h"

#include <cstring>
#include <memory>

#include "common/diagnostics.h"
#include "platform/platform.h"

int LineReader::get() {
  if (position_ == size_) {
    if (failed_)
      return EOF;
    size_ = std::fread(buffer_, 1, sizeof buffer_, stream_);
    position_ = 0;
    // A failed read (a folder, an I/O error) must not pass for the end of
    // the input, or the rest of the commit would go unchecked. What the
    // read brought before it failed is still handed out.
    failed_ = std::ferror(stream_) != 0;
    if (size_ == 0)
      return EOF;
  }
  return static_cast<unsigned char>(buffer_[position_++]);
}

bool LineReader::next(std::string *line) {
  line->clear();
  bool stored = false;
  for (;;) {
    int c = get();
    if (c == EOF) {
      if (failed_)
        return false; // the line a failed read cut short is not a line
      break;
    }
    if (c == '\r' || c == '\n') {
      if (stored)
        break;
      continue; // empty line, or the second half of CR LF
    }
    line->push_back(static_cast<char>(c));
    stored = true;
  }
  if (!stored)
    return false;
  // A NUL byte ends the text of its line.
  line->resize(std::strlen(line->c_str()));
  return true;
}

namespace {

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

bool has_header(const std::string &line, const char *prefix) {
  std::size_t length = std::strlen(prefix);
  return line.size() > length && line.compare(0, length, prefix) == 0;
}

// Header lines before the checker command; returns false when LINE is the
// checker command itself.
bool take_header_line(const std::string &line) {
  if (has_header(line, "echo: ")) {
    std::printf("%s\n", line.c_str() + 6);
  } else if (has_header(line, "clientpath: ")) {
    log_debug1("clientpath is '%s'", line.c_str() + 12);
  } else if (has_header(line, "viewpath: ")) {
    log_debug1("viewpath is '%s'", line.c_str() + 10);
  } else {
    return false;
  }
  return true;
}

void take_body_line(const std::string &line, int line_number, InputData *input) {
  std::size_t start = 0;
  while (start < line.size() && is_blank(line[start]))
    ++start;
  const char *trimmed = line.c_str() + start;
  const char *pair = std::strstr(trimmed, "\\\\");
  if (pair != nullptr && pair[2] != '\0') {
    const char *file = pair + 2;
    log_debug2("line[%d] = file '%s'", line_number, file);
    input->files.emplace_back(file);
    return;
  }
  log_debug2("line[%d] = version '%s'", line_number, trimmed);
  VersionEntry entry;
  entry.version = trimmed;
  input->versions.push_back(std::move(entry));
}

// Prints why the input could not be had: the input file, or standard input
// when no file was named.
Outcome report_unreadable_input(const char *file_name) {
  if (file_name != nullptr)
    std::printf("ERROR: Failed to open input file '%s'\n", file_name);
  else
    std::fputs("ERROR: Failed to read standard input\n", stdout);
  return Outcome::Failed;
}

} // namespace

Outcome read_input(const char *file_name, bool versions_only, InputData *input) {
  std::unique_ptr<FILE, int (*)(FILE *)> file(nullptr, std::fclose);
  if (file_name != nullptr) {
    file.reset(platform::open_file(file_name, "r"));
    if (file == nullptr)
      return report_unreadable_input(file_name);
  }
  LineReader reader(file != nullptr ? file.get() : stdin);
  std::string line;
  bool in_body = versions_only;
  int line_number = 0;
  while (reader.next(&line)) {
    if (!in_body) {
      if (take_header_line(line))
        continue;
      log_debug2("cmd: %s", line.c_str());
      input->checker_command = line;
      in_body = true;
      continue;
    }
    take_body_line(line, line_number, input);
    ++line_number;
  }
  return reader.failed() ? report_unreadable_input(file_name) : Outcome::Done;
}
