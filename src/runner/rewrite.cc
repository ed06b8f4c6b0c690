// Strips the staging folder from the checker's output and keeps the dump log.
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "runner/runner.h"

namespace {

// The dump-log name must fit a buffer of this many bytes, NUL included.
constexpr std::size_t kLogNameField = 1024;

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
  std::optional<std::string> temp = platform::temp_folder();
  if (!temp)
    return false;
  char buffer[kLogNameField];
  int length = std::snprintf(buffer, sizeof buffer, "%s\\%s%d.%s", temp->c_str(), "tvk",
                             platform::process_id(), "log");
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof buffer)
    return false;
  *name = buffer;
  return true;
}

void prepare_dump_log(RewriteContext *context) {
  std::string name;
  if (dump_log_name(&name) && platform::create_log_file(name.c_str()).ok())
    context->dump_log_path = name;
  else
    context->dump_log_path.reset();
  std::printf("writing log to '%s'\n",
              context->dump_log_path ? context->dump_log_path->c_str() : "(null)");
}

// The staging prefix as the checker's system writes it: WORKDIR and its
// separator (POSIX: "/"). Kept only when it differs from the two forms
// removed before it; on Windows it is the staging prefix itself.
void prepare_workdir_prefix(RewriteContext *context) {
  std::string workdir_form = platform::workdir_value(context->staging_prefix);
  if (workdir_form == context->staging_prefix || workdir_form == context->long_staging_prefix)
    context->workdir_prefix.reset();
  else
    context->workdir_prefix = workdir_form;
}

std::string rewrite_through_context(void *context, std::string_view chunk) {
  return rewrite_output_line(*static_cast<RewriteContext *>(context), chunk);
}

} // namespace

void prepare_output_rewriting(const std::string &staging_folder, bool dump,
                              RewriteContext *context) {
  context->staging_prefix = staging_folder + "\\";
  context->long_staging_prefix = platform::long_path(context->staging_prefix.c_str());
  prepare_workdir_prefix(context);
  context->dump = dump;
  if (dump)
    prepare_dump_log(context);
}

std::string rewrite_output_line(RewriteContext &context, std::string_view chunk) {
  std::string text(chunk);
  remove_every(context.staging_prefix, &text);
  if (context.long_staging_prefix && *context.long_staging_prefix != context.staging_prefix)
    remove_every(*context.long_staging_prefix, &text);
  if (context.workdir_prefix)
    remove_every(*context.workdir_prefix, &text);
  if (context.dump && context.dump_log_path) {
    std::lock_guard<std::mutex> lock(context.log_mutex);
    (void)platform::append_log_line(context.dump_log_path->c_str(), text);
  }
  return text;
}

OutputFilter rewriting_filter(RewriteContext *context) {
  return OutputFilter{rewrite_through_context, context};
}
