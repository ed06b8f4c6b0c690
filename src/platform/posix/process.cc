// Process, pipe and thread services on POSIX.
//
// Needs Linux with glibc 2.34 or later: pipe2 for pipes that are
// close-on-exec from the start, and posix_spawn_file_actions_addclosefrom_np
// so that a child gets exactly its three standard streams. POSIX threads.
//
// Every descriptor made here is close-on-exec: a child gets its three
// standard streams through explicit redirections and nothing else, so it
// cannot hold an output pipe open by accident and keep a pump waiting.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/command_line.h"
#include "platform/posix/interrupts.h"
#include "platform/posix/io.h"

extern char **environ;

namespace platform {
namespace {

static_assert(sizeof(pthread_t) <= sizeof(std::uintptr_t));

// Close-on-exec copies of the child's three ends, all at 3 or above, so
// that redirecting them onto 0, 1 and 2 cannot clash.
Status copy_child_ends(const Handle *const ends[3], Handle sources[3]) {
  for (int i = 0; i < 3; ++i) {
    int copy = fcntl(fd(*ends[i]), F_DUPFD_CLOEXEC, 3);
    if (copy < 0)
      return from_errno(errno);
    sources[i] = Handle(copy);
  }
  return Status();
}

// The redirections of SOURCES onto the standard streams, and no other
// descriptor for the child. 0 or the error of the first call that failed.
int add_stream_actions(posix_spawn_file_actions_t *actions, const Handle sources[3]) {
  for (int i = 0; i < 3; ++i) {
    if (int error = posix_spawn_file_actions_adddup2(actions, fd(sources[i]), i))
      return error;
  }
  return posix_spawn_file_actions_addclosefrom_np(actions, 3);
}

// No blocked signals and the default action for a broken pipe, whatever
// this program does with them. 0 or the error of the first call that failed.
int set_signal_attributes(posix_spawnattr_t *attributes) {
  sigset_t none;
  sigset_t defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  if (int error = posix_spawnattr_setsigmask(attributes, &none))
    return error;
  if (int error = posix_spawnattr_setsigdefault(attributes, &defaults))
    return error;
  return posix_spawnattr_setflags(attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
}

// The current folder, or none when it cannot be had.
std::optional<std::string> current_folder() {
  std::vector<char> buffer(4096);
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE)
      return std::nullopt;
    buffer.resize(buffer.size() * 2);
  }
  return std::string(buffer.data());
}

bool is_executable_file(const std::string &path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
         access(path.c_str(), X_OK) == 0;
}

// PROGRAM as the child must name it once it starts in another folder: the
// file that a start in our own folder would run (a relative path taken from
// here, a bare name searched on PATH as execvp searches it, an empty entry
// being this folder), made absolute. None when no such file is found.
std::optional<std::string> program_from_here(const std::string &program) {
  if (program.empty())
    return std::nullopt;
  if (program[0] == '/')
    return program;
  std::optional<std::string> here = current_folder();
  if (!here)
    return std::nullopt;
  if (program.find('/') != std::string::npos)
    return *here + "/" + program;
  const char *path = std::getenv("PATH");
  std::string entries = path != nullptr ? path : "/bin:/usr/bin";
  for (std::size_t start = 0; start <= entries.size();) {
    std::size_t end = entries.find(':', start);
    if (end == std::string::npos)
      end = entries.size();
    std::string entry = entries.substr(start, end - start);
    if (entry.empty() || entry[0] != '/')
      entry = *here + (entry.empty() ? "" : "/" + entry);
    std::string candidate = entry + "/" + program;
    if (is_executable_file(candidate))
      return candidate;
    start = end + 1;
  }
  return std::nullopt;
}

// Starts ARGV (searched on PATH when it holds no slash, no shell) with
// SOURCES as its standard input, output and error; with FOLDER (a system
// path), the file PROGRAM in that folder instead.
Status spawn_with_streams(char *const *argv, const Handle sources[3], const char *program,
                          const char *folder, pid_t *pid) {
  posix_spawn_file_actions_t actions;
  if (int error = posix_spawn_file_actions_init(&actions))
    return from_errno(error);
  posix_spawnattr_t attributes;
  int error = posix_spawnattr_init(&attributes);
  if (error == 0) {
    error = add_stream_actions(&actions, sources);
    if (error == 0 && folder != nullptr)
      error = posix_spawn_file_actions_addchdir_np(&actions, folder);
    if (error == 0)
      error = set_signal_attributes(&attributes);
    if (error == 0)
      error = folder != nullptr ? posix_spawn(pid, program, &actions, &attributes, argv, environ)
                                : posix_spawnp(pid, argv[0], &actions, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
  }
  posix_spawn_file_actions_destroy(&actions);
  return from_errno(error);
}

struct ThreadStart {
  ThreadRoutine routine;
  void *context;
};

void *thread_entry(void *raw) {
  std::unique_ptr<ThreadStart> start(static_cast<ThreadStart *>(raw));
  start->routine(start->context);
  return nullptr;
}

} // namespace

Status create_pipe(Pipe *pipe) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0)
    return from_errno(errno);
  pipe->read_end = Handle(fds[0]);
  pipe->write_end = Handle(fds[1]);
  return Status();
}

Status duplicate_private(const Handle &end, Handle *duplicate) {
  int copy = fcntl(fd(end), F_DUPFD_CLOEXEC, 0);
  if (copy < 0)
    return from_errno(errno);
  *duplicate = Handle(copy);
  return Status();
}

std::uint32_t read_pipe(const Handle &pipe, char *buffer, std::uint32_t size) {
  ssize_t got;
  do {
    got = read(fd(pipe), buffer, size);
  } while (got < 0 && errno == EINTR);
  return got > 0 ? static_cast<std::uint32_t>(got) : 0;
}

Status write_pipe(const Handle &pipe, const char *data, std::size_t size) {
  return write_all(fd(pipe), data, size);
}

void drain_pipes(std::span<const Handle *const> pipes) {
  std::vector<pollfd> open_pipes;
  for (const Handle *pipe : pipes)
    open_pipes.push_back(pollfd{fd(*pipe), POLLIN, 0});
  char discard[65536];
  while (!open_pipes.empty()) {
    if (poll(open_pipes.data(), open_pipes.size(), -1) < 0) {
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

Status start_process(const char *command, const Handle &child_stdin, const Handle &child_stdout,
                     const Handle &child_stderr, ChildProcess *process, const char *folder) {
  std::vector<std::string> arguments = split_command_line(command);
  if (arguments.empty() || arguments[0].empty())
    return from_errno(ENOENT);
  std::string system_folder;
  std::optional<std::string> program;
  if (folder != nullptr) {
    // The child changes folder before it looks for its program; it must
    // find the same program as without the change.
    program = program_from_here(arguments[0]);
    if (!program)
      return from_errno(ENOENT);
    system_folder = system_path(folder);
  }
  std::vector<char *> argv;
  for (std::string &argument : arguments)
    argv.push_back(argument.data());
  argv.push_back(nullptr);

  const Handle *const ends[3] = {&child_stdin, &child_stdout, &child_stderr};
  Handle sources[3];
  pid_t pid = -1;
  Status status = copy_child_ends(ends, sources);
  if (status.ok())
    status = spawn_with_streams(argv.data(), sources, program ? program->c_str() : nullptr,
                                program ? system_folder.c_str() : nullptr, &pid);
  if (!status.ok())
    return status;
  *process = ChildProcess();
  process->native_ = pid;
  return Status();
}

void ChildProcess::release() {
  // Reaped here when no one waited for it, or it would stay a zombie.
  wait();
  native_ = -1;
  ended_ = false;
}

void ChildProcess::wait() {
  if (ended_ || native_ < 0)
    return;
  int status = 0;
  if (wait_for_child(static_cast<pid_t>(native_), &status)) {
    ended_ = true;
    wait_status_ = status;
  }
}

std::optional<std::uint32_t> ChildProcess::exit_code() const {
  if (!ended_)
    return std::nullopt;
  if (WIFEXITED(wait_status_))
    return static_cast<std::uint32_t>(WEXITSTATUS(wait_status_));
  if (WIFSIGNALED(wait_status_))
    return 128u + static_cast<std::uint32_t>(WTERMSIG(wait_status_));
  return std::nullopt;
}

Status start_thread(ThreadRoutine routine, void *context, Thread *thread) {
  auto start = std::make_unique<ThreadStart>(ThreadStart{routine, context});
  pthread_t handle{};
  if (int error = pthread_create(&handle, nullptr, thread_entry, start.get()))
    return from_errno(error);
  start.release(); // the thread owns it now
  thread->join();  // a thread it held before is waited for first
  thread->native_ = static_cast<std::uintptr_t>(handle);
  thread->started_ = true;
  return Status();
}

void Thread::join() {
  if (!started_)
    return;
  pthread_join(static_cast<pthread_t>(native_), nullptr);
  started_ = false;
}

} // namespace platform
