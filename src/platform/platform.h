// The operating-system services Trelvik uses, behind one portable interface.
//
// The logic folders see only this header. Exactly one implementation
// (posix/ or win32/) is linked into a build; each section below names the
// file that defines it.
//
// One convention for paths, for every caller: the backslash and the slash
// are both separators. The gate's paths use backslashes, as on Windows;
// trelvik-git's use slashes, as git does. The POSIX implementation turns
// each backslash into a slash right before it hands a path to the system
// (so a POSIX name that holds a backslash cannot be reached, as on
// Windows); the Win32 one hands the system both as they are.
//
// One convention for failures: an operation that can fail returns a Status,
// and a query that may have no answer returns an empty std::optional.
// Nothing else reports a failure: no errno or last-error value is left for
// a caller to read.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

// What kind of failure a Status holds, the same on every system, for the
// callers that act on it (a missing parent folder, a name already taken).
enum class Failure : std::uint8_t { None, NotFound, Exists, Other };

// The outcome of an operation: success, or a failure with its kind and the
// system's own code for it. One code domain per system: errno values on
// POSIX, Win32 error codes on Windows, where what a C runtime call reports
// is converted on the spot, so that error_text always reads the code it is
// given.
class [[nodiscard]] Status {
public:
  constexpr Status() = default;
  static constexpr Status failure(Failure kind, std::uint32_t code) {
    return Status(kind == Failure::None ? Failure::Other : kind, code);
  }
  constexpr bool ok() const { return kind_ == Failure::None; }
  constexpr Failure kind() const { return kind_; }
  constexpr std::uint32_t code() const { return code_; }

private:
  constexpr Status(Failure kind, std::uint32_t code) : kind_(kind), code_(code) {}
  Failure kind_ = Failure::None;
  std::uint32_t code_ = 0;
};

// ---- Handles (system.cc) --------------------------------------------------

// An open descriptor (POSIX) or HANDLE (Windows) and its one owner, which
// closes it when it goes: pipe ends, and every descriptor or handle the
// implementations open, so that no early return leaves one open.
class Handle {
public:
  Handle() = default;
  explicit Handle(std::intptr_t native) : native_(native) {}
  Handle(Handle &&other) noexcept : native_(other.release()) {}
  Handle &operator=(Handle &&other) noexcept;
  Handle(const Handle &) = delete;
  Handle &operator=(const Handle &) = delete;
  ~Handle() { close(); }

  bool is_open() const { return native_ != kNone; }
  std::intptr_t native() const { return native_; }
  // Closes now; nothing when nothing is held.
  void close() { (void)close_checked(); }
  // Closes now and says whether the system took it: a late write error of
  // a file written through the handle (a full disk, a quota) shows here.
  Status close_checked();
  // Hands what it holds to the caller, who closes it from now on.
  std::intptr_t release() {
    std::intptr_t native = native_;
    native_ = kNone;
    return native;
  }

private:
  static constexpr std::intptr_t kNone = -1;
  std::intptr_t native_ = kNone;
};

// ---- Process, environment and standard streams (system.cc) ---------------

// Called first thing in main: puts the standard streams into the state the
// program relies on (on Windows: the C runtime's default text mode, no
// argument wildcard expansion).
void init_process();

// The process id used in the staging folder and dump-log names.
int process_id();

// The folder for the staging folder and the dump log. Windows: the value of
// TEMP, none when it is unset. POSIX: TEMP, else TMPDIR, else "/tmp".
std::optional<std::string> temp_folder();

// Puts NAME=VALUE into the program's own environment; children inherit it.
Status set_environment(const char *name, const char *value);

// The value WORKDIR gets for STAGING_FOLDER: the path as the checker's system
// writes it (POSIX: every backslash a slash; Windows: unchanged).
std::string workdir_value(const std::string &staging_folder);

// Makes PATH the program's current folder.
Status change_folder(const char *path);

// Opens a file of the program's (the -i input file) with fopen semantics.
FILE *open_file(const char *path, const char *mode);

// Readies the standard streams for relayed output, before the checker
// starts: what the program printed so far goes out first, so that nothing
// of the checker's can overtake it.
void prepare_relay_output();

// Writes LENGTH bytes to STREAM (stdout or stderr) at once and sends them
// out, so that a relayed line is never cut by another writer of the same
// file and reaches it before the next one. POSIX: one write on the
// descriptor, waiting while a non-blocking one is full; Windows: through
// the C runtime in its default text mode (each LF becomes CR LF), flushed.
void relay_output(FILE *stream, const char *bytes, std::size_t length);

// The system's text for a failed Status, with the system's own line end, or
// "unknown error <code>\n" when it has none. POSIX: strerror; Windows:
// FormatMessageA for a Win32 code.
std::string error_text(Status status);

// ---- Interruptions: Ctrl-C and its kin (interrupts.cc) -------------------
//
// Until hold_interrupts, an interruption ends the program where it stands,
// as the system's default does. From then on it is held instead: recorded,
// passed on to a child the program waits for (ChildProcess::wait), and
// acted on by the program itself, which cleans up and then ends with
// end_interrupted. Held are, on POSIX, SIGINT, SIGTERM, SIGHUP and SIGQUIT
// (each unless the program was started with it ignored, as a job in the
// background is); on Windows Ctrl-C, Ctrl-Break, closing the console,
// logging off and shutting down.

// Holds the interruptions from now on. Threads started afterwards never
// take them (POSIX: they are blocked in every thread and taken only by
// the waits and checks below).
void hold_interrupts();

// The first interruption held so far, 0 while there is none or they are
// not held: POSIX the signal number, Windows the console event plus one.
// Any thread may ask.
int interruption();

// Ends the program as INTERRUPTION ends a program that does not hold it,
// once the standard streams are flushed: POSIX by that signal with its
// default action (a shell sees 128 + the number), Windows with
// STATUS_CONTROL_C_EXIT (0xC000013A), as for Ctrl-C.
[[noreturn]] void end_interrupted(int interruption);

// ---- File services: staging folder, reconciliation (files.cc) ------------

enum class PathKind { Missing, File, Directory };

// Status query (_stat64i32 / stat): Missing when the status cannot be had.
PathKind path_kind(const char *path);

// Creates one folder (POSIX mode 0700). Failure::NotFound: a parent folder
// is missing; Failure::Exists: the name is taken.
Status make_folder(const char *path);

// Who a copy is, recorded when it is made, so that its deletion can tell it
// from a file that was put in its place afterwards: POSIX the device and
// inode of the new file, Windows its volume and file index.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
};

// Copies SOURCE to DESTINATION, failing when DESTINATION exists (CopyFileW
// with fail-if-exists; POSIX copies the bytes and the permission bits), and
// records the new file's identity in *COPY when asked; a copy whose
// identity cannot be had is removed again and fails. A destination that
// existed before the call is never removed.
Status copy_file(const char *source, const char *destination, FileIdentity *copy = nullptr);

// The identity of the regular file at PATH, without following a link, for a
// file a child program made (trelvik-git's export of the index), so that it
// can be deleted as a copy is. None when PATH is no regular file.
std::optional<FileIdentity> file_identity(const char *path);

// What stands at PATH when it is a regular file, without following a link:
// its size and whether its owner may execute it (Windows: never). None
// for anything else or when PATH cannot be queried.
struct RegularFile {
  std::uint64_t size = 0;
  bool executable = false;
};
std::optional<RegularFile> regular_file(const char *path);

// Reads the regular file at PATH (POSIX: not through a link), handing its
// bytes to TAKE piece by piece, in order. True when all of it was read and
// it held exactly SIZE bytes; false when it could not be opened or read,
// or held another number.
bool read_regular_file(const char *path, std::uint64_t size,
                       const std::function<void(const char *, std::size_t)> &take);

// What the folder at PATH offers for copies: its free space, whether it
// lies in memory (POSIX: tmpfs or ramfs; Windows: never) and whether only
// this user may enter it (POSIX: owned by this user, mode 0700 or less;
// Windows: never said). None when PATH is no folder.
struct FolderSpace {
  std::uint64_t free_bytes = 0;
  bool memory_backed = false;
  bool private_to_user = false;
};
std::optional<FolderSpace> folder_space(const char *path);

// Gives the file at PATH execute permission wherever it has read permission
// (POSIX; a hook script must be executable). Windows has no such bit:
// success when the file exists.
Status make_executable(const char *path);

// A file this run created: its path below a base folder, and its identity.
struct CreatedFile {
  std::string_view relative; // components separated by backslashes or slashes
  FileIdentity identity;
};

// Deletes each of FILES below BASE (a folder path that ends with a
// backslash), reaching it only through real folders: never through a
// symbolic link or junction that stands where a folder was, and only while
// the name still holds the file the identity names. Windows
// clears the read-only attribute a copy took from its source. Files that
// cannot be deleted stay, quietly.
//
// With REMOVE_LEFT_FOLDERS, and FILES in folder order (a folder's files
// together, before those of the folders below it), a folder below BASE
// that the deletions went through is also removed once they have left it,
// when it is empty then (POSIX; Windows leaves that to
// remove_empty_folders). It saves listing each folder again afterwards.
void delete_created_files(const std::string &base, const std::vector<CreatedFile> &files,
                          bool remove_left_folders = false);

// Removes FOLDER and every folder below it that is empty once its own
// sub-folders are gone. Never deletes a file, never descends into or
// removes a symbolic link or junction, and never removes FOLDER itself when
// it is one.
void remove_empty_folders(const char *folder);

// ---- Long path and dump log (log.cc) --------------------------------------

// The long-path form of PATH (GetLongPathNameA with a 1,024-character buffer;
// POSIX: the canonical absolute path, with a trailing separator kept). None
// when it cannot be had or does not fit.
std::optional<std::string> long_path(const char *path);

// Creates or empties the dump log (mode 0600 on POSIX, never through a
// symbolic link).
Status create_log_file(const char *path);

// Appends TEXT (any bytes, NUL included) and a newline to the dump log in
// one write.
Status append_log_line(const char *path, std::string_view text);

// ---- Processes, pipes and threads: the checker run (process.cc) ----------
//
// Pipe ends (Handle), child processes and threads are move-only owners:
// each closes, waits for or joins what it holds when it goes, so every early
// return of a caller leaves nothing open and no child unreaped.

struct Pipe {
  Handle read_end;
  Handle write_end;
};

// An anonymous pipe whose two ends a child may inherit.
Status create_pipe(Pipe *pipe);

// A duplicate of END, with the same access, that no child inherits.
Status duplicate_private(const Handle &end, Handle *duplicate);

// Blocking read of at most SIZE bytes: the count read, 0 at end of stream
// or on failure.
std::uint32_t read_pipe(const Handle &pipe, char *buffer, std::uint32_t size);

// Writes all SIZE bytes to PIPE, waiting while it is full. Fails when the
// reader has gone (POSIX: EPIPE, this program ignores SIGPIPE).
Status write_pipe(const Handle &pipe, const char *data, std::size_t size);

// Reads and discards everything from PIPES until each reports end of
// stream; used when no pump could be started for a pipe, so that the child
// can never block on it.
void drain_pipes(std::span<const Handle *const> pipes);

// A started child process. Going away waits for it to end, as a Thread
// does, so that no child is ever left unreaped or unseen.
class ChildProcess {
public:
  ChildProcess() = default;
  ChildProcess(ChildProcess &&other) noexcept;
  ChildProcess &operator=(ChildProcess &&other) noexcept;
  ChildProcess(const ChildProcess &) = delete;
  ChildProcess &operator=(const ChildProcess &) = delete;
  ~ChildProcess() { release(); }

  // Waits without time limit for the process to end. An interruption held
  // meanwhile is passed on to it: POSIX sends it the signal, unless a
  // terminal sent that to the whole foreground process group (the child
  // among them) already; Windows ends it and every process it started
  // with STATUS_CONTROL_C_EXIT, since it runs without the console and
  // never sees the event itself.
  void wait();
  // The ended process's exit code (POSIX: 128 + signal for a signalled
  // child); none when it cannot be read.
  std::optional<std::uint32_t> exit_code() const;

private:
  friend Status start_process(const char *, const Handle &, const Handle &, const Handle &,
                              ChildProcess *, const char *);
  void release();
  std::intptr_t native_ = -1; // process id or HANDLE
  Handle group_;              // Windows: the job object it runs in, if any
  bool ended_ = false;        // it has ended (POSIX: reaped, with its wait status)
  int wait_status_ = 0;
};

// Starts COMMAND (a whole command line) with the three given ends as its
// standard streams, without a window, inheriting the environment. It starts
// in FOLDER (the program's form) when one is given, else in the program's
// own current folder; either way the program is found as from the
// program's own folder, so FOLDER changes nothing but where it starts.
Status start_process(const char *command, const Handle &child_stdin, const Handle &child_stdout,
                     const Handle &child_stderr, ChildProcess *process,
                     const char *folder = nullptr);

// A thread of the program's own. Going away waits for it to end.
class Thread {
public:
  Thread() = default;
  // Not movable: a running thread may hold a pointer to the record that
  // owns it.
  Thread(const Thread &) = delete;
  Thread &operator=(const Thread &) = delete;
  ~Thread() { join(); }

  bool is_running() const { return started_; }
  // Waits without time limit for the thread to end; nothing when none runs.
  void join();

private:
  friend Status start_thread(std::uint32_t (*)(void *), void *, Thread *);
  std::uintptr_t native_ = 0; // pthread_t or HANDLE
  bool started_ = false;
};

// Starts ROUTINE(CONTEXT) on a new thread held by *THREAD.
using ThreadRoutine = std::uint32_t (*)(void *context);
Status start_thread(ThreadRoutine routine, void *context, Thread *thread);

// How a caller starts its helper threads: start_thread in a real run; tests
// stand in a starter that fails, as a machine at its thread limit would.
using ThreadStarter = std::function<Status(ThreadRoutine routine, void *context, Thread *thread)>;

// ---- Moves shared by both implementations --------------------------------

inline Handle &Handle::operator=(Handle &&other) noexcept {
  if (this != &other) {
    close();
    native_ = other.release();
  }
  return *this;
}

inline ChildProcess::ChildProcess(ChildProcess &&other) noexcept {
  *this = std::move(other);
}

inline ChildProcess &ChildProcess::operator=(ChildProcess &&other) noexcept {
  if (this != &other) {
    release();
    native_ = other.native_;
    group_ = std::move(other.group_);
    ended_ = other.ended_;
    wait_status_ = other.wait_status_;
    other.native_ = -1;
    other.ended_ = false;
  }
  return *this;
}

} // namespace platform
