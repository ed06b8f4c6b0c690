// Process, pipe and thread services: not built yet. Every call fails and
// says so.
#include <cstdio>

#include "platform/platform.h"

namespace platform {
namespace {
void not_implemented(const char *name) {
  std::fprintf(stderr, "trelvik: platform::%s is not implemented yet\n", name);
}
} // namespace

bool create_pipe(Handle *, Handle *) {
  not_implemented("create_pipe");
  return false;
}
bool duplicate_private(Handle, Handle *) {
  not_implemented("duplicate_private");
  return false;
}
void close_handle(Handle) {
  not_implemented("close_handle");
}
std::uint32_t start_process(const char *, Handle, Handle, Handle, Handle *) {
  not_implemented("start_process");
  return 2;
}
void wait_process(Handle) {
  not_implemented("wait_process");
}
void close_process(Handle) {
  not_implemented("close_process");
}
bool process_exit_code(Handle, std::uint32_t *) {
  not_implemented("process_exit_code");
  return false;
}
bool read_pipe(Handle, char *, std::uint32_t, std::uint32_t *) {
  not_implemented("read_pipe");
  return false;
}
std::uint32_t start_thread(ThreadRoutine, void *, Handle *) {
  not_implemented("start_thread");
  return 1;
}
void wait_thread(Handle) {
  not_implemented("wait_thread");
}
void close_thread(Handle) {
  not_implemented("close_thread");
}
void drain_pipes(const Handle *, int) {
  not_implemented("drain_pipes");
}

} // namespace platform
