// Process, pipe and thread services on POSIX.
//
// Every descriptor made here is close-on-exec: a child gets its three
// standard streams through explicit redirections and nothing else, so it
// cannot hold an output pipe open by accident and keep a pump waiting.
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/command_line.h"

extern char **environ;

namespace platform {
namespace {

// A started child; the handle points to it.
struct ChildProcess {
  pid_t pid = -1;
  bool ended = false;
  int status = 0;
};

// A started thread; the handle points to it.
struct ThreadRecord {
  pthread_t thread{};
  ThreadRoutine routine = nullptr;
  void *context = nullptr;
};

int descriptor(Handle handle) {
  return static_cast<int>(handle);
}

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

// Copies the backslashes starting at *P into ARGUMENT by the rules for
// backslashes before a double quote; leaves *P on the next character to
// look at (a quote that still acts, or the character after them).
void take_backslashes(const char **p, std::string *argument) {
  std::size_t count = 0;
  while (**p == '\\') {
    ++count;
    ++*p;
  }
  if (**p != '"') {
    argument->append(count, '\\');
    return;
  }
  argument->append(count / 2, '\\');
  if (count % 2 == 1) {
    *argument += '"';
    ++*p;
  }
}

// Close-on-exec copies of the child's three ends, all at 3 or above, so
// that redirecting them onto 0, 1 and 2 cannot clash. Returns 0 or errno;
// copies made are left in SOURCES for the caller to close.
int copy_child_ends(const Handle ends[3], int sources[3]) {
  for (int i = 0; i < 3; ++i) {
    sources[i] = fcntl(descriptor(ends[i]), F_DUPFD_CLOEXEC, 3);
    if (sources[i] < 0)
      return errno;
  }
  return 0;
}

// Starts ARGV (searched on PATH when it holds no slash, no shell) with
// SOURCES as its standard input, output and error and no other descriptor,
// with no blocked signals and the default action for a broken pipe,
// whatever this program does with them. Returns 0 or errno.
int spawn_with_streams(char *const *argv, const int sources[3], pid_t *pid) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int i = 0; i < 3; ++i)
    posix_spawn_file_actions_adddup2(&actions, sources[i], i);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  int result = posix_spawnp(pid, argv[0], &actions, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return result;
}

void *thread_entry(void *raw) {
  ThreadRecord *record = static_cast<ThreadRecord *>(raw);
  record->routine(record->context);
  return nullptr;
}

} // namespace

std::vector<std::string> split_command_line(const char *command) {
  std::vector<std::string> arguments;
  const char *p = command;
  while (true) {
    while (is_blank(*p))
      ++p;
    if (*p == '\0')
      break;
    std::string argument;
    bool quoted = false;
    while (*p != '\0' && (quoted || !is_blank(*p))) {
      if (*p == '\\') {
        take_backslashes(&p, &argument);
      } else if (*p == '"') {
        if (quoted && p[1] == '"') {
          argument += '"';
          p += 2;
        } else {
          quoted = !quoted;
          ++p;
        }
      } else {
        argument += *p++;
      }
    }
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

bool create_pipe(Handle *read_end, Handle *write_end) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0)
    return false;
  *read_end = fds[0];
  *write_end = fds[1];
  return true;
}

bool duplicate_private(Handle handle, Handle *duplicate) {
  int copy = fcntl(descriptor(handle), F_DUPFD_CLOEXEC, 0);
  if (copy < 0)
    return false;
  *duplicate = copy;
  return true;
}

void close_handle(Handle handle) {
  close(descriptor(handle));
}

std::uint32_t start_process(const char *command, Handle child_stdin, Handle child_stdout,
                            Handle child_stderr, Handle *process) {
  std::vector<std::string> arguments = split_command_line(command);
  if (arguments.empty() || arguments[0].empty())
    return ENOENT;
  std::vector<char *> argv;
  for (std::string &argument : arguments)
    argv.push_back(argument.data());
  argv.push_back(nullptr);

  const Handle ends[3] = {child_stdin, child_stdout, child_stderr};
  int sources[3] = {-1, -1, -1};
  pid_t pid = -1;
  int result = copy_child_ends(ends, sources);
  if (result == 0)
    result = spawn_with_streams(argv.data(), sources, &pid);
  for (int source : sources) {
    if (source >= 0)
      close(source);
  }
  if (result != 0)
    return static_cast<std::uint32_t>(result);
  *process = reinterpret_cast<Handle>(new ChildProcess{pid});
  return 0;
}

void wait_process(Handle process) {
  ChildProcess *child = reinterpret_cast<ChildProcess *>(process);
  if (child->ended)
    return;
  int status = 0;
  pid_t waited;
  do {
    waited = waitpid(child->pid, &status, 0);
  } while (waited < 0 && errno == EINTR);
  if (waited == child->pid) {
    child->ended = true;
    child->status = status;
  }
}

void close_process(Handle process) {
  delete reinterpret_cast<ChildProcess *>(process);
}

bool process_exit_code(Handle process, std::uint32_t *exit_code) {
  const ChildProcess *child = reinterpret_cast<const ChildProcess *>(process);
  if (!child->ended)
    return false;
  if (WIFEXITED(child->status)) {
    *exit_code = static_cast<std::uint32_t>(WEXITSTATUS(child->status));
    return true;
  }
  if (WIFSIGNALED(child->status)) {
    *exit_code = 128u + static_cast<std::uint32_t>(WTERMSIG(child->status));
    return true;
  }
  return false;
}

bool read_pipe(Handle pipe, char *buffer, std::uint32_t size, std::uint32_t *count) {
  ssize_t got;
  do {
    got = read(descriptor(pipe), buffer, size);
  } while (got < 0 && errno == EINTR);
  if (got <= 0) {
    *count = 0;
    return false;
  }
  *count = static_cast<std::uint32_t>(got);
  return true;
}

std::uint32_t start_thread(ThreadRoutine routine, void *context, Handle *thread) {
  ThreadRecord *record = new ThreadRecord{{}, routine, context};
  int error = pthread_create(&record->thread, nullptr, thread_entry, record);
  if (error != 0) {
    delete record;
    return static_cast<std::uint32_t>(error);
  }
  *thread = reinterpret_cast<Handle>(record);
  return 0;
}

void wait_thread(Handle thread) {
  pthread_join(reinterpret_cast<ThreadRecord *>(thread)->thread, nullptr);
}

void close_thread(Handle thread) {
  delete reinterpret_cast<ThreadRecord *>(thread);
}

void drain_pipes(const Handle *pipes, int count) {
  std::vector<pollfd> open_pipes;
  for (int i = 0; i < count; ++i)
    open_pipes.push_back(pollfd{descriptor(pipes[i]), POLLIN, 0});
  char discard[65536];
  while (!open_pipes.empty()) {
    int ready = poll(open_pipes.data(), open_pipes.size(), -1);
    if (ready < 0) {
      if (errno == EINTR)
        continue;
      return;
    }
    for (std::size_t i = open_pipes.size(); i-- > 0;) {
      if (open_pipes[i].revents == 0)
        continue;
      ssize_t got = read(open_pipes[i].fd, discard, sizeof discard);
      if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN))
        open_pipes.erase(open_pipes.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
}

} // namespace platform
