#include "e2e/harness.h"
#include "tools/quote_argument.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

extern char **environ;

namespace fs = std::filesystem;

namespace e2e {
namespace {

std::string setting(const char *name) {
  const char *value = std::getenv(name);
  return value ? value : "";
}

std::string replaced(std::string text, char from, char to) {
  std::replace(text.begin(), text.end(), from, to);
  return text;
}

std::vector<char *> pointers(std::vector<std::string> &texts) {
  std::vector<char *> raw;
  for (std::string &text : texts)
    raw.push_back(text.data());
  raw.push_back(nullptr);
  return raw;
}

// The test's environment with TEMP as the invocation wants it (under Wine
// the launcher sets it).
std::vector<std::string> environment_for(const Invocation &invocation) {
  std::vector<std::string> result;
  for (char **entry = environ; *entry; ++entry) {
    if (is_wine() || std::string(*entry).rfind("TEMP=", 0) != 0)
      result.push_back(*entry);
  }
  if (!is_wine() && !invocation.temp.empty())
    result.push_back("TEMP=" + invocation.temp);
  return result;
}

// The command line of a run: the gate's own, or under Wine the loader's
// with the launcher; prlimit (util-linux, on PATH) in front for a limited
// address space.
std::vector<std::string> command_line(const Invocation &invocation, const std::string &code_path) {
  std::vector<std::string> argv = {setting("TRELVIK_E2E_BIN")};
  if (is_wine()) {
    argv = {access("/usr/lib/wine/wine64", X_OK) == 0 ? "/usr/lib/wine/wine64" : "wine64",
            setting("TRELVIK_E2E_LAUNCHER"), seen(code_path)};
    if (invocation.create_process)
      argv.push_back("--create-process");
    argv.push_back(invocation.temp.empty() ? "-TEMP" : "TEMP=" + seen(invocation.temp));
    argv.insert(argv.end(), {"--", seen(setting("TRELVIK_E2E_BIN"))});
  }
  argv.insert(argv.end(), invocation.args.begin(), invocation.args.end());
  if (invocation.address_space_limit != 0)
    argv.insert(argv.begin(),
                {"prlimit", "--as=" + std::to_string(invocation.address_space_limit), "--"});
  return argv;
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

void ScratchFolder::clear() const {
  for (const auto &entry : fs::directory_iterator(path_))
    fs::remove_all(entry.path());
}

bool is_wine() {
  return setting("TRELVIK_E2E_TARGET") == "wine";
}

std::string seen(const std::string &host_path) {
  return is_wine() ? replaced("Z:" + host_path, '/', '\\') : host_path;
}

std::string backslashed(const std::string &host_path) {
  return replaced(seen(host_path), '/', '\\');
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
  static const std::regex pid("tvk[0-9]+\\.");
  return std::regex_replace(text, pid, "tvk<pid>.");
}

std::string read_file(const std::string &path) {
  std::ostringstream content;
  content << std::ifstream(path, std::ios::binary).rdbuf();
  return content.str();
}

Result run(const Invocation &invocation) {
  ScratchFolder io;
  std::string input_path = io.write("stdin", invocation.input);
  std::string out_path = io.path() + "/stdout", err_path = io.path() + "/stderr";
  std::string code_path = io.path() + "/code";
  std::vector<std::string> argv = command_line(invocation, code_path);
  std::vector<std::string> env = environment_for(invocation);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (invocation.stdin_folder.empty())
    posix_spawn_file_actions_addopen(&actions, 0, input_path.c_str(), O_RDONLY, 0);
  else
    posix_spawn_file_actions_addopen(&actions, 0, invocation.stdin_folder.c_str(),
                                     O_RDONLY | O_DIRECTORY, 0);
  const int kCreate = O_WRONLY | O_CREAT | O_TRUNC;
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), kCreate, 0600);
  if (invocation.one_output_file)
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
  else
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), kCreate, 0600);
  if (!invocation.cwd.empty())
    posix_spawn_file_actions_addchdir_np(&actions, invocation.cwd.c_str());
  pid_t pid = 0;
  Result result;
  int failed = posix_spawnp(&pid, argv[0].c_str(), &actions, nullptr, pointers(argv).data(),
                            pointers(env).data());
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) {
    result.err = "cannot start " + argv[0];
    result.code = 0xDEADu;
    return result;
  }
  int status = 0;
  waitpid(pid, &status, 0);
  result.out = read_file(out_path);
  result.err = read_file(err_path);
  if (is_wine()) {
    std::string code = read_file(code_path);
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
