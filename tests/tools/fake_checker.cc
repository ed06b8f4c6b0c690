// A scriptable checker for the tests. Each argument is one step, done in
// order:
//   out:TEXT        write TEXT to standard output (escapes: \n \r \t \0 \\ \xHH)
//   err:TEXT        write TEXT to standard error
//   repeat:N:TEXT   write TEXT N times to standard output
//   workdir:TEXT    write the value of WORKDIR followed by TEXT
//   cwd:TEXT        write the current folder followed by TEXT
//   list            write every file under WORKDIR as "<relative path> <size>\n"
//   stdin           read standard input to its end, write "stdin:<bytes>\n"
//   sleep:MS        pause
//   touch:PATH      create the file PATH (relative to WORKDIR when not absolute)
//   link:NAME=DIR   make NAME (relative to WORKDIR) a symbolic link to the
//                   folder DIR
//   empty-write     write zero bytes to standard output with one system call
//   remove:PATH     remove PATH and everything below it (relative to WORKDIR
//                   when not absolute)
//   flood:N         write N blocks of 64 KiB of lines to standard output and
//                   standard error in turn, as a checker that fills both
//                   pipes at once
//   background:MS   start a copy of this program that keeps the output
//                   streams open for MS milliseconds, then writes "late\n"
//   exit:N          end with exit code N (unsigned 32-bit); default 0
//   raise:N         raise signal N (POSIX: ends the program by that signal)
//   fds             write the open descriptors below 1024 as "fds:0,1,2\n"
//                   (POSIX; elsewhere "fds:unknown\n")
//   interleave:N    write N lines "OUT-LINE-<i>-a...z\n" to standard output
//                   and N lines "ERR-<i>\n" to standard error in turn, each
//                   flushed at once (i counts from 0, five digits)
// Output streams are binary, so every byte arrives as written.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <spawn.h>
#include <unistd.h>
extern char **environ;
#endif

namespace fs = std::filesystem;

namespace {

std::string unescape(const char *text) {
  static const std::string kLetters = "nrt0", kBytes("\n\r\t\0", 4);
  std::string out;
  for (const char *p = text; *p; ++p) {
    if (*p != '\\' || p[1] == '\0') {
      out += *p;
    } else if (*++p == 'x') {
      char hex[3] = {p[1], p[1] ? p[2] : '\0', '\0'};
      out += static_cast<char>(std::strtoul(hex, nullptr, 16));
      p += hex[1] ? 2 : 1;
    } else {
      std::size_t at = kLetters.find(*p);
      out += at == std::string::npos ? *p : kBytes[at];
    }
  }
  return out;
}

std::uint32_t g_exit_code = 0;
std::error_code g_ignored;
const char *g_self = nullptr;

void write_all(FILE *stream, const std::string &data) {
  std::fwrite(data.data(), 1, data.size(), stream);
  std::fflush(stream);
}

std::string variable(const char *name) {
  const char *value = std::getenv(name);
  return value ? value : "";
}

fs::path in_workdir(const std::string &relative) {
  fs::path path = relative;
  return path.is_relative() ? fs::path(variable("WORKDIR")) / path : path;
}

void list_workdir(const char *) {
  std::string workdir = variable("WORKDIR");
  std::vector<std::string> lines;
  std::error_code error;
  for (fs::recursive_directory_iterator it(workdir, error), end; !error && it != end;
       it.increment(error)) {
    if (it->is_regular_file())
      lines.push_back(fs::relative(it->path(), workdir).generic_string() + " " +
                      std::to_string(it->file_size()) + "\n");
  }
  std::sort(lines.begin(), lines.end());
  for (const std::string &line : lines)
    write_all(stdout, line);
}

#ifdef _WIN32
// Starts COMMAND; waits for it when WAIT.
void start(std::string command, bool inherit, bool wait) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, inherit, 0, nullptr, nullptr,
                      &startup, &info))
    return;
  if (wait)
    WaitForSingleObject(info.hProcess, INFINITE);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
}

// The host path of a path on Wine's drive Z:, or "".
std::string host_path(std::string path) {
  if (path.size() < 2 || (path[0] != 'Z' && path[0] != 'z') || path[1] != ':')
    return "";
  std::replace(path.begin(), path.end(), '\\', '/');
  return path.substr(2);
}
#endif

void start_background(const char *milliseconds) {
  std::string sleep_step = std::string("sleep:") + milliseconds, late = "out:late\\n";
#ifdef _WIN32
  start(std::string("\"") + g_self + "\" " + sleep_step + " " + late, true, false);
#else
  char *argv[] = {const_cast<char *>(g_self), sleep_step.data(), late.data(), nullptr};
  pid_t pid;
  posix_spawn(&pid, g_self, nullptr, nullptr, argv, environ);
#endif
}

void list_descriptors(const char *) {
  std::string listing = "fds:";
#ifdef _WIN32
  listing += "unknown";
#else
  for (int fd = 0; fd < 1024; ++fd) {
    if (fcntl(fd, F_GETFD) != -1)
      listing += (listing.size() > 4 ? "," : "") + std::to_string(fd);
  }
#endif
  write_all(stdout, listing + "\n");
}

void make_folder_link(const char *step) {
  const char *equals = std::strchr(step, '=');
  if (equals == nullptr)
    return;
  fs::path name = in_workdir(std::string(step, equals));
#ifdef _WIN32
  // Unprivileged creation where the system allows it.
  CreateSymbolicLinkA(name.string().c_str(), equals + 1, SYMBOLIC_LINK_FLAG_DIRECTORY | 0x2);
  if (GetFileAttributesA(name.string().c_str()) != INVALID_FILE_ATTRIBUTES)
    return;
  // Wine reports success without making a link, but starts the host's
  // programs and shows the host's links as reparse points: the host's ln
  // makes one for paths on its drive Z:.
  std::string target = host_path(equals + 1), link = host_path(name.string());
  if (!target.empty() && !link.empty())
    start("Z:\\bin\\ln -s \"" + target + "\" \"" + link + "\"", false, true);
#else
  if (symlink(equals + 1, name.c_str()) != 0)
    std::perror("fake-checker: symlink");
#endif
}

// A write of zero bytes reaches a pipe on Windows as a read of zero bytes.
void write_nothing(const char *) {
  std::fflush(stdout);
#ifdef _WIN32
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "", 0, &written, nullptr);
#else
  if (write(1, "", 0) < 0)
    std::perror("fake-checker: write");
#endif
}

void interleave(const char *count) {
  for (unsigned long i = 0, lines = std::strtoul(count, nullptr, 10); i < lines; ++i) {
    char number[24];
    std::snprintf(number, sizeof number, "%05lu", i);
    write_all(stdout, std::string("OUT-LINE-") + number + "-abcdefghijklmnopqrstuvwxyz\n");
    write_all(stderr, std::string("ERR-") + number + "\n");
  }
}

void flood(const char *count) {
  std::string block;
  while (block.size() < 65536)
    block += std::string(63, 'f') + "\n";
  for (unsigned long i = 0, blocks = std::strtoul(count, nullptr, 10); i < blocks; ++i)
    write_all(i % 2 == 0 ? stdout : stderr, block);
}

void repeat(const char *step) {
  char *rest = nullptr;
  unsigned long long count = std::strtoull(step, &rest, 10);
  std::string text = unescape(*rest == ':' ? rest + 1 : rest), all;
  while (count-- > 0)
    all += text;
  write_all(stdout, all);
}

void touch(const char *name) {
  fs::path path = in_workdir(name);
  fs::create_directories(path.parent_path(), g_ignored);
  if (FILE *file = std::fopen(path.string().c_str(), "wb"))
    std::fclose(file);
}

// The steps by name; a name that ends in ':' takes the rest of the argument.
const struct Step {
  const char *name;
  void (*run)(const char *argument);
} kSteps[] = {
    {"out:", [](const char *text) { write_all(stdout, unescape(text)); }},
    {"err:", [](const char *text) { write_all(stderr, unescape(text)); }},
    {"repeat:", repeat},
    {"workdir:", [](const char *text) { write_all(stdout, variable("WORKDIR") + unescape(text)); }},
    {"cwd:",
     [](const char *text) { write_all(stdout, fs::current_path().string() + unescape(text)); }},
    {"list", list_workdir},
    {"stdin",
     [](const char *) {
       std::string all((std::istreambuf_iterator<char>(std::cin)), {});
       write_all(stdout, "stdin:" + std::to_string(all.size()) + "\n");
     }},
    {"sleep:",
     [](const char *ms) { std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(ms))); }},
    {"touch:", touch},
    {"link:", make_folder_link},
    {"empty-write", write_nothing},
    {"remove:", [](const char *path) { fs::remove_all(in_workdir(path), g_ignored); }},
    {"flood:", flood},
    {"background:", start_background},
    {"raise:", [](const char *signal) { std::raise(std::atoi(signal)); }},
    {"fds", list_descriptors},
    {"exit:", [](const char *code) { g_exit_code = std::strtoul(code, nullptr, 10); }},
    {"interleave:", interleave},
};

} // namespace

int main(int argc, char **argv) {
#ifdef _WIN32
  for (FILE *stream : {stdout, stderr, stdin})
    _setmode(_fileno(stream), _O_BINARY);
#endif
  g_self = argv[0];
  for (int i = 1; i < argc; ++i) {
    const Step *step = std::find_if(std::begin(kSteps), std::end(kSteps), [&](const Step &s) {
      std::size_t length = std::strlen(s.name);
      return s.name[length - 1] == ':' ? std::strncmp(argv[i], s.name, length) == 0
                                       : std::strcmp(argv[i], s.name) == 0;
    });
    if (step == std::end(kSteps)) {
      std::fprintf(stderr, "fake-checker: unknown step '%s'\n", argv[i]);
      return 99;
    }
    step->run(argv[i] + std::strlen(step->name)); // "" for a step without argument
  }
#ifdef _WIN32
  ExitProcess(g_exit_code);
#else
  return static_cast<int>(g_exit_code);
#endif
}
