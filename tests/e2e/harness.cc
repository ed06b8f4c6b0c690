#include "e2e/harness.h"
#include "common/quote.h"

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace fs = std::filesystem;

namespace e2e {
namespace {

// A setting of the run: from the environment, else from the file that
// TRELVIK_E2E_SETTINGS names (NAME=VALUE lines, written by the build).
std::string setting(const std::string &name) {
  if (const char *value = std::getenv(name.c_str()))
    return value;
  const char *settings = std::getenv("TRELVIK_E2E_SETTINGS");
  std::ifstream file(settings ? settings : "");
  for (std::string line; std::getline(file, line);) {
    if (line.starts_with(name + "="))
      return line.substr(name.size() + 1);
  }
  return "";
}

// TEXT quoted for the shell.
std::string quoted(const std::string &text) {
  std::string result = "'";
  for (char c : text)
    result += c == '\'' ? "'\\''" : std::string(1, c);
  return result + "'";
}

// Shell commands that make the folders of Invocation::taken in TEMP, each
// followed by "&&"; the shell's own process id is the gate's, since the
// shell ends in exec.
std::string plant_taken_names(const Invocation &invocation) {
  std::string commands;
  for (const std::string &name : invocation.taken) {
    std::size_t pid = name.find("<pid>");
    std::string path =
        quoted(invocation.temp + "/" + name.substr(0, pid)) + "$$" + quoted(name.substr(pid + 5));
    commands += "mkdir " + path + " && ";
  }
  return commands;
}

// The shell command of a run: the gate's own command line, or under Wine
// the loader's with the launcher, which sets TEMP; the standard streams
// redirected.
std::string command_line(const Invocation &invocation, const std::string &io) {
  std::vector<std::string> argv = {setting("TRELVIK_E2E_BIN")};
  std::string plant;
  if (is_wine()) {
    argv = {access("/usr/lib/wine/wine64", X_OK) == 0 ? "/usr/lib/wine/wine64" : "wine64",
            setting("TRELVIK_E2E_LAUNCHER"), seen(io + "/code")};
    if (invocation.create_process)
      argv.push_back("--create-process");
    for (const std::string &name : invocation.taken)
      argv.insert(argv.end(), {"--taken", name});
    if (!invocation.ctrl_c_when.empty())
      argv.insert(argv.end(), {"--ctrl-c-when", seen(invocation.ctrl_c_when)});
    argv.push_back(invocation.temp.empty() ? "-TEMP" : "TEMP=" + seen(invocation.temp));
    argv.insert(argv.end(), {"--", seen(setting("TRELVIK_E2E_BIN"))});
  } else {
    argv.insert(argv.begin(), invocation.temp.empty() ? "-uTEMP" : "TEMP=" + invocation.temp);
    plant = plant_taken_names(invocation);
  }
  argv.insert(argv.end(), invocation.args.begin(), invocation.args.end());
  std::string command =
      "cd " + quoted(invocation.cwd.empty() ? "." : invocation.cwd) + " && " + plant + "exec env";
  for (const std::string &argument : argv)
    command += " " + quoted(argument);
  if (invocation.ctrl_c_when.empty())
    command +=
        " <" + quoted(invocation.stdin_folder.empty() ? io + "/stdin" : invocation.stdin_folder);
  command += " >" + quoted(io + "/stdout") +
             (invocation.one_output_file ? " 2>&1" : " 2>" + quoted(io + "/stderr"));
  // script (of util-linux) gives the run a pseudo-terminal, which Wine makes
  // the console.
  return invocation.ctrl_c_when.empty()
             ? command
             : "script -qec " + e2e::quoted(command) + " /dev/null </dev/null >/dev/null";
}

} // namespace

ScratchFolder::ScratchFolder() {
  std::string pattern = (fs::temp_directory_path() / "trelvik-e2e-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr)
    std::abort();
  path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code error;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, error);
  fs::remove_all(path_, error);
}

std::string ScratchFolder::write(const std::string &relative, const std::string &content) const {
  fs::path path = fs::path(path_) / relative;
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << content;
  return path.string();
}

std::vector<std::string> ScratchFolder::listing() const {
  std::vector<std::string> entries;
  for (const auto &entry : fs::recursive_directory_iterator(path_)) {
    std::string name = entry.path().lexically_relative(path_).generic_string();
    entries.push_back(entry.is_directory() && !entry.is_symlink() ? name + "/" : name);
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

bool is_wine() {
  return setting("TRELVIK_E2E_TARGET") == "wine";
}

std::string seen(const std::string &host_path) {
  return is_wine() ? backslashed(host_path) : host_path;
}

std::string backslashed(const std::string &host_path) {
  std::string path = (is_wine() ? "Z:" : "") + host_path;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

std::string text(const std::string &lf_text) {
  if (!is_wine())
    return lf_text;
  std::string converted;
  for (char c : lf_text)
    converted.append(c == '\n' ? "\r\n" : std::string(1, c));
  return converted;
}

std::string checker(const std::vector<std::string> &steps) {
  std::string command = quote_argument(seen(setting("TRELVIK_E2E_CHECKER")));
  for (const std::string &step : steps)
    command += " " + quote_argument(step);
  return command;
}

std::string without_pid(const std::string &text) {
  static const std::regex pid("tvk[0-9]+([-.])");
  return std::regex_replace(text, pid, "tvk<pid>$1");
}

std::string read_file(const std::string &path) {
  std::ostringstream content;
  content << std::ifstream(path, std::ios::binary).rdbuf();
  return content.str();
}

Result run(const Invocation &invocation) {
  ScratchFolder io;
  io.write("stdin", invocation.input);
  std::string command = command_line(invocation, io.path());
  pid_t pid = fork();
  if (pid == 0) {
    // A process group of its own, and the interruptions at their default
    // actions whatever the test program was started with.
    setpgid(0, 0);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
      std::signal(signal, SIG_DFL);
    execl("/bin/sh", "sh", "-c", command.c_str(), nullptr);
    _exit(127);
  }
  if (invocation.meanwhile)
    invocation.meanwhile(pid);
  int status = 0;
  waitpid(pid, &status, 0);
  Result result{read_file(io.path() + "/stdout"), read_file(io.path() + "/stderr")};
  if (is_wine()) {
    std::string code = read_file(io.path() + "/code");
    result.code = code.empty() ? 0xDEADu : static_cast<std::uint32_t>(std::stoul(code));
  } else {
    result.code = WIFEXITED(status) ? static_cast<std::uint32_t>(WEXITSTATUS(status))
                                    : 0xDEAD0000u | static_cast<std::uint32_t>(WTERMSIG(status));
  }
  return result;
}

std::string Session::file_line(const std::string &relative, const std::string &content) const {
  return "ws\\\\" + backslashed(workspace.write(relative, content)) + "\n";
}

Result Session::run(std::vector<std::string> args, const std::string &input) const {
  return e2e::run({std::move(args), input, temp.path()});
}

std::vector<std::string> Session::temp_listing() const {
  std::vector<std::string> entries;
  for (const std::string &entry : temp.listing())
    entries.push_back(without_pid(entry));
  return entries;
}

std::string Session::staging_folder() const {
  return seen(temp.path()) + "\\tvk<pid>.tmp";
}

std::string Session::placed(std::string text) const {
  const bool wine = is_wine();
  const std::pair<std::string, std::string> marks[] = {
      {"<ws>", backslashed(workspace.path())},
      {"<stage>", staging_folder()},
      {"<temp>", seen(temp.path())},
      {"<cwd>", seen(std::filesystem::current_path().string())},
      {"<workdir>", wine ? staging_folder() : temp.path() + "/tvk<pid>.tmp"},
      {"<\\>", wine ? "\\" : "/"},
      {"<sep>", wine ? "\\\\" : "/"},
      {"<stylecheck>", "\"" + seen(setting("TRELVIK_E2E_STYLECHECK")) + "\""},
      {"<not-a-folder>", wine ? "Path not found.\r\n" : "Not a directory\n"},
  };
  for (const auto &[mark, value] : marks) {
    for (std::size_t at = 0; (at = text.find(mark, at)) != std::string::npos; at += value.size())
      text.replace(at, mark.size(), value);
  }
  return text;
}

} // namespace e2e
