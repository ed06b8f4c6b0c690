// The stages of the relayed output: the print, the strip of the staging
// folder and the dump log.
#include "runner/output.h"

#include <cstdio>

#include "platform/platform.h"

namespace {

// The dump-log name must fit a buffer of this many bytes, NUL included.
constexpr std::size_t kLogNameField = 1024;

void remove_every(const std::string &prefix, std::string *text) {
  if (prefix.empty())
    return;
  for (std::size_t found = text->find(prefix); found != std::string::npos;
       found = text->find(prefix))
    text->erase(found, prefix.size());
}

// The dump-log path for this process, or none when TEMP is not known or
// the name does not fit its field.
std::optional<std::string> dump_log_name() {
  std::optional<std::string> temp = platform::temp_folder();
  if (!temp)
    return std::nullopt;
  char buffer[kLogNameField];
  int length = std::snprintf(buffer, sizeof buffer, "%s\\%s%d.%s", temp->c_str(), "tvk",
                             platform::process_id(), "log");
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof buffer)
    return std::nullopt;
  return std::string(buffer);
}

} // namespace

void StreamPrinter::put(std::string_view chunk) {
  line_.assign(chunk);
  line_ += '\n';
  platform::relay_output(stream_, line_.data(), line_.size());
}

StagingPrefixes staging_prefixes(const std::string &staging_folder) {
  StagingPrefixes prefixes;
  prefixes.staging = staging_folder + "\\";
  prefixes.long_form = platform::long_path(prefixes.staging.c_str());
  // The form the checker's system writes (POSIX: WORKDIR and "/"); on
  // Windows it is the staging prefix itself.
  std::string workdir_form = platform::workdir_value(prefixes.staging);
  if (workdir_form != prefixes.staging && workdir_form != prefixes.long_form)
    prefixes.workdir = workdir_form;
  return prefixes;
}

std::string strip_staging_prefixes(const StagingPrefixes &prefixes, std::string_view chunk) {
  std::string text(chunk);
  remove_every(prefixes.staging, &text);
  if (prefixes.long_form && *prefixes.long_form != prefixes.staging)
    remove_every(*prefixes.long_form, &text);
  if (prefixes.workdir)
    remove_every(*prefixes.workdir, &text);
  return text;
}

void DumpLog::create() {
  std::optional<std::string> name = dump_log_name();
  if (name && platform::create_log_file(name->c_str()).ok())
    path_ = std::move(name);
  else
    path_.reset();
  std::printf("writing log to '%s'\n", path_ ? path_->c_str() : "(null)");
}

void DumpLog::append(std::string_view text) {
  if (!path_)
    return;
  std::lock_guard<std::mutex> lock(mutex_);
  // A line that cannot be appended is left out of the log; the relay goes on.
  (void)platform::append_log_line(path_->c_str(), text);
}
