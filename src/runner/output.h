// The stages the checker's output goes through on its way out: the strip of
// -s, the dump log of -d, and the print on the gate's own stream. Each
// stream (standard output, standard error) has a chain of its own, which
// its pump feeds chunk by chunk.
#pragma once

#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

// Takes the chunks of one output stream, in order, on the thread of the
// pump that reads it. A chunk (any bytes, NUL included) lives only during
// the call.
class ChunkSink {
public:
  virtual void put(std::string_view chunk) = 0;

protected:
  ~ChunkSink() = default;
};

// The last stage: prints each chunk and a newline on its stream in one
// write, so that when the gate's standard output and standard error go to
// one file each line lands there whole and in the order it was relayed. On
// Windows the newline comes out as CR LF.
class StreamPrinter final : public ChunkSink {
public:
  explicit StreamPrinter(FILE *stream) : stream_(stream) {}
  void put(std::string_view chunk) override;

private:
  FILE *stream_;
  std::string line_; // the chunk and its newline; its room is kept
};

// The forms of the staging folder that the checker's output may name, each
// with its trailing separator.
struct StagingPrefixes {
  std::string staging;                  // the staging folder and a backslash
  std::optional<std::string> long_form; // its long form, when there is one
  std::optional<std::string> workdir;   // WORKDIR and "/", when another form
};

// The prefixes of STAGING_FOLDER: its long form (kept even when it equals
// the plain one) and the form the checker was handed in WORKDIR (kept only
// where it differs from both).
StagingPrefixes staging_prefixes(const std::string &staging_folder);

// CHUNK with every occurrence of the staging prefix removed, then of its
// long form (when it differs), then of the WORKDIR form. After each
// removal the search starts again, so an occurrence formed by joining the
// text on both sides of a removed one goes too.
std::string strip_staging_prefixes(const StagingPrefixes &prefixes, std::string_view chunk);

// The stage of -s: strips the staging prefixes from each chunk and hands
// the result on.
class PrefixStripper final : public ChunkSink {
public:
  PrefixStripper(const StagingPrefixes &prefixes, ChunkSink &next)
      : prefixes_(prefixes), next_(next) {}
  void put(std::string_view chunk) override { next_.put(strip_staging_prefixes(prefixes_, chunk)); }

private:
  const StagingPrefixes &prefixes_;
  ChunkSink &next_;
};

// The dump log of -d: "tvk<pid>.log" in TEMP, which both streams append
// to, one line at a time.
class DumpLog {
public:
  // Creates the log empty (emptying one left from before) and prints
  // "writing log to '<path>'", with "(null)" for the path when the log
  // cannot be made; nothing is ever appended then.
  void create();
  // Appends TEXT and a newline as one line; a failed append is skipped.
  // Safe from both pumps at once.
  void append(std::string_view text);

private:
  std::optional<std::string> path_;
  std::mutex mutex_; // a line of one stream never lands inside one of the other
};

// The stage of -d: appends each chunk to the dump log and hands it on.
class LogAppender final : public ChunkSink {
public:
  LogAppender(DumpLog &log, ChunkSink &next) : log_(log), next_(next) {}
  void put(std::string_view chunk) override {
    log_.append(chunk);
    next_.put(chunk);
  }

private:
  DumpLog &log_;
  ChunkSink &next_;
};

// The chain of one stream. The dump log takes the chunks the strip stage
// hands on, so only with -s does anything reach it: with -d alone the log
// is made but stays empty.
class OutputChain {
public:
  OutputChain(FILE *stream, const StagingPrefixes &prefixes, DumpLog &log, bool strip, bool dump)
      : printer_(stream), logged_(log, printer_),
        stripper_(prefixes, dump ? static_cast<ChunkSink &>(logged_) : printer_),
        entry_(strip ? static_cast<ChunkSink &>(stripper_) : printer_) {}
  OutputChain(const OutputChain &) = delete;
  OutputChain &operator=(const OutputChain &) = delete;

  // Where the stream's pump puts its chunks.
  ChunkSink &entry() { return entry_; }

private:
  StreamPrinter printer_;
  LogAppender logged_;
  PrefixStripper stripper_;
  ChunkSink &entry_;
};
