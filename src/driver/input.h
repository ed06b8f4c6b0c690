// The input line protocol: header lines, the checker command, file lines and
// version lines.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "common/commit.h"
#include "common/outcome.h"

// Reads lines from a C stream. CR, LF and CR LF all end a line; empty lines
// are skipped; a last line needs no line end; a NUL ends a line's text.
class LineReader {
public:
  explicit LineReader(FILE *stream) : stream_(stream) {}
  // The next non-empty line, without its line end. False at end of input
  // and once a read has failed.
  bool next(std::string *line);
  // A read failed: the input ended early, not at its end.
  bool failed() const { return failed_; }

private:
  int get();

  FILE *stream_;
  char buffer_[65536];
  std::size_t size_ = 0;
  std::size_t position_ = 0;
  bool failed_ = false;
};

struct InputData {
  std::optional<std::string> checker_command;
  FileList files;
  VersionTable versions;
};

// Reads and classifies every line of the file FILE_NAME, or of standard
// input when it is null. With VERSIONS_ONLY there is no header and no
// checker command: every line is a body line. Failed, after its message,
// when the file cannot be opened or a read fails before the end of the
// input: a commit read only in part must not be checked as if it were whole.
Outcome read_input(const char *file_name, bool versions_only, InputData *input);
