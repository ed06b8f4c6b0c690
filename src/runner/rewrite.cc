// Strips the staging folder from the checker's output and keeps the dump log.
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

#include "driver/settings.h"
#include "platform/platform.h"
#include "runner/runner.h"

namespace {

// The dump-log name must fit a buffer of this many bytes, NUL included.
constexpr std::size_t kLogNameField = 1024;

// Both pumps append to the one log; one at a time, so that a chunk of one
// stream never lands inside a chunk of the other.
std::mutex g_log_mutex;

// Removes every occurrence of PREFIX, searching again from the start after
// each removal, so that an occurrence formed by joining the text on both
// sides of a removed one goes too.
void remove_every(const std::string &prefix, std::string *text) {
  if (prefix.empty())
    return;
  for (std::size_t found = text->find(prefix); found != std::string::npos;
       found = text->find(prefix))
    text->erase(found, prefix.size());
}

// The dump-log path for this process, or nothing when TEMP is not known or
// the name does not fit its field.
bool dump_log_name(std::string *name) {
  std::string temp;
  if (!platform::temp_folder(&temp))
    return false;
  char buffer[kLogNameField];
  int length = std::snprintf(buffer, sizeof buffer, "%s\\%s%d.%s", temp.c_str(), "tvk",
                             platform::process_id(), "log");
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof buffer)
    return false;
  *name = buffer;
  return true;
}

void prepare_dump_log() {
  std::string name;
  if (dump_log_name(&name) && platform::create_log_file(name.c_str()))
    g_settings.dump_log_path = name;
  else
    g_settings.dump_log_path.reset();
  std::printf("writing log to '%s'\n",
              g_settings.dump_log_path ? g_settings.dump_log_path->c_str() : "(null)");
}

// The staging prefix as the checker's system writes it: WORKDIR and its
// separator (POSIX: "/"). Kept only when it differs from the two forms
// removed before it; on Windows it is the staging prefix itself.
void prepare_workdir_prefix() {
  std::string workdir_form = platform::workdir_value(g_settings.staging_prefix);
  if (workdir_form == g_settings.staging_prefix || workdir_form == g_settings.long_staging_prefix)
    g_settings.workdir_prefix.reset();
  else
    g_settings.workdir_prefix = workdir_form;
}

} // namespace

void prepare_output_rewriting() {
  g_settings.staging_prefix = g_settings.staging_folder + "\\";
  std::string long_form;
  if (platform::long_path(g_settings.staging_prefix.c_str(), &long_form))
    g_settings.long_staging_prefix = long_form;
  else
    g_settings.long_staging_prefix.reset();
  prepare_workdir_prefix();
  if (g_settings.dump)
    prepare_dump_log();
}

std::string rewrite_output_line(std::string_view chunk) {
  std::string text(chunk);
  remove_every(g_settings.staging_prefix, &text);
  if (g_settings.long_staging_prefix &&
      *g_settings.long_staging_prefix != g_settings.staging_prefix)
    remove_every(*g_settings.long_staging_prefix, &text);
  if (g_settings.workdir_prefix)
    remove_every(*g_settings.workdir_prefix, &text);
  if (g_settings.dump && g_settings.dump_log_path) {
    std::lock_guard<std::mutex> lock(g_log_mutex);
    platform::append_log_line(g_settings.dump_log_path->c_str(), text);
  }
  return text;
}
