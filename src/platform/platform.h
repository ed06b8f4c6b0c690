// The operating-system services Trelvik uses, behind one portable interface.
//
// The logic folders see only this header. Inside the program every path uses
// the backslash as separator; the POSIX implementation turns each backslash
// into a slash right before it hands a path to the system, the Win32 one uses
// the paths as they are. Exactly one implementation (posix/ or win32/) is
// linked into a build.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// ---- Process, environment and standard streams ---------------------------

// Called first thing in main: puts the standard streams into the state the
// program relies on (on Windows: the C runtime's default text mode, no
// argument wildcard expansion).
void init_process();

// The process id used in the staging folder and dump-log names.
int process_id();

// The folder for the staging folder and the dump log. Windows: the value of
// TEMP, or false when it is unset. POSIX: TEMP, else TMPDIR, else "/tmp".
bool temp_folder(std::string *folder);

// Puts NAME=VALUE into the program's own environment; children inherit it.
bool set_environment(const char *name, const char *value);

// The value WORKDIR gets for STAGING_FOLDER: the path as the checker's system
// writes it (POSIX: every backslash a slash; Windows: unchanged).
std::string workdir_value(const std::string &staging_folder);

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

// ---- File services (staging folder, reconciliation) ----------------------

enum class PathKind { Missing, File, Directory };

// Status query (_stat64i32 / stat): Missing when the status cannot be had.
PathKind path_kind(const char *path);

// Creates one folder (_mkdir; POSIX mode 0700). Returns 0 on success, else
// the errno value of the failure.
int make_folder(const char *path);

// Who a copy is, recorded when it is made, so that its deletion can tell it
// from a file that was put in its place afterwards. POSIX: the device and
// inode of the new file; Windows: not recorded (both 0).
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
};

// Copies SOURCE to DESTINATION, failing when DESTINATION exists (CopyFileA
// with fail-if-exists; POSIX copies the bytes and the permission bits), and
// records the new file's identity in *COPY when asked. On failure *error_text receives
// the system's message for the error, with the system's own line end, or
// "unknown error <code>\n" when it has none. A destination that existed
// before the call is never removed.
bool copy_file(const char *source, const char *destination, std::string *error_text,
               FileIdentity *copy = nullptr);

// A file this run created: its path below a base folder, and its identity.
struct CreatedFile {
  std::string_view relative; // components separated by backslashes or slashes
  FileIdentity identity;
};

// Deletes each of FILES below BASE (a folder path that ends with a
// backslash), reaching it only through real folders: never through a
// symbolic link or junction that stands where a folder was, and (POSIX)
// only while the name still holds the file the identity names. Windows
// clears the read-only attribute a copy took from its source. Files that
// cannot be deleted stay, quietly.
void delete_created_files(const std::string &base, const std::vector<CreatedFile> &files);

// Removes FOLDER and every folder below it that is empty once its own
// sub-folders are gone. Never deletes a file, never descends into or
// removes a symbolic link or junction, and never removes FOLDER itself when
// it is one.
void remove_empty_folders(const char *folder);

// The long-path form of PATH (GetLongPathNameA with a 1,024-character buffer;
// POSIX: the canonical absolute path, with a trailing separator kept). False
// when it cannot be had or does not fit.
bool long_path(const char *path, std::string *long_form);

// Creates or empties the dump log (mode 0600 on POSIX, never through a
// symbolic link). False when it cannot be created.
bool create_log_file(const char *path);

// Appends TEXT (any bytes, NUL included) and a newline to the dump log in
// one write. False on failure.
bool append_log_line(const char *path, std::string_view text);

// ---- Processes, pipes and threads (checker run) ---------------------------

// A pipe end, process or thread handle: a HANDLE on Windows, a descriptor or
// process id on POSIX. kInvalidHandle marks none.
using Handle = std::intptr_t;
constexpr Handle kInvalidHandle = -1;

// An anonymous pipe whose two ends the child may inherit. False on failure.
bool create_pipe(Handle *read_end, Handle *write_end);

// A duplicate of HANDLE that no child inherits, with the same access.
bool duplicate_private(Handle handle, Handle *duplicate);

// Closes a pipe end.
void close_handle(Handle handle);

// Starts COMMAND (a whole command line) with the three given ends as its
// standard streams, without a window, inheriting the environment and the
// current folder. Returns 0 and the process handle, or the system's error
// code (POSIX: errno) when the process cannot be started.
std::uint32_t start_process(const char *command, Handle child_stdin, Handle child_stdout,
                            Handle child_stderr, Handle *process);

// Waits without time limit for the process to end.
void wait_process(Handle process);

// Releases a process handle (after the exit code was read).
void close_process(Handle process);

// The ended process's exit code (POSIX: 128 + signal for a signalled child).
// False when it cannot be read.
bool process_exit_code(Handle process, std::uint32_t *exit_code);

// Blocking read of at most SIZE bytes; *count is at least 1 on success.
// False at end of stream or on failure.
bool read_pipe(Handle pipe, char *buffer, std::uint32_t size, std::uint32_t *count);

// Starts ROUTINE(CONTEXT) on a new thread. Returns 0 and the thread handle,
// or the system's error code.
using ThreadRoutine = std::uint32_t (*)(void *context);
std::uint32_t start_thread(ThreadRoutine routine, void *context, Handle *thread);

// Waits without time limit for the thread to end.
void wait_thread(Handle thread);

// Releases a thread handle after wait_thread.
void close_thread(Handle thread);

// Reads and discards everything from the given pipes until each reports end
// of stream; used when no pump could be started for a pipe, so that the
// child can never block on it.
void drain_pipes(const Handle *pipes, int count);

} // namespace platform
