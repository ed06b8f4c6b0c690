#include "e2e/harness.h"
#include "tools/quote_argument.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

extern char **environ;

namespace fs = std::filesystem;

namespace e2e {
namespace {

std::string setting(const char *name) {
  const char *value = std::getenv(name);
  return value ? value : "";
}

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string wine_loader() {
  for (const char *candidate : {"/usr/lib/wine/wine64", "/usr/bin/wine64", "/usr/bin/wine"}) {
    if (access(candidate, X_OK) == 0)
      return candidate;
  }
  return "wine";
}

std::vector<std::string> environment_for(const Invocation &invocation) {
  std::map<std::string, std::optional<std::string>> changes = invocation.env;
  if (!is_wine()) {
    if (invocation.temp.empty())
      changes["TEMP"] = std::nullopt;
    else
      changes["TEMP"] = invocation.temp;
  }
  std::vector<std::string> result;
  for (char **entry = environ; *entry; ++entry) {
    std::string text = *entry;
    std::string name = text.substr(0, text.find('='));
    if (!changes.count(name))
      result.push_back(text);
  }
  if (!is_wine()) {
    for (const auto &[name, value] : changes) {
      if (value)
        result.push_back(name + "=" + *value);
    }
  }
  return result;
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
    if (entry.is_directory() && !entry.is_symlink())
      name += "/";
    entries.push_back(name);
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

bool is_wine() {
  return setting("TRELVIK_E2E_TARGET") == "wine";
}

std::string seen(const std::string &host_path) {
  if (!is_wine())
    return host_path;
  std::string path = "Z:" + host_path;
  for (char &c : path) {
    if (c == '/')
      c = '\\';
  }
  return path;
}

std::string backslashed(const std::string &host_path) {
  std::string path = seen(host_path);
  for (char &c : path) {
    if (c == '/')
      c = '\\';
  }
  return path;
}

std::string text(const std::string &lf_text) {
  if (!is_wine())
    return lf_text;
  std::string converted;
  for (char c : lf_text) {
    if (c == '\n')
      converted += '\r';
    converted += c;
  }
  return converted;
}

std::string checker_path() {
  return setting("TRELVIK_E2E_CHECKER");
}
std::string stylecheck_path() {
  return setting("TRELVIK_E2E_STYLECHECK");
}

std::string checker(const std::vector<std::string> &steps) {
  std::string command = quote_argument(seen(checker_path()));
  for (const std::string &step : steps)
    command += " " + quote_argument(step);
  return command;
}

std::string without_pid(const std::string &text) {
  static const std::regex pid("tvk[0-9]+\\.");
  return std::regex_replace(text, pid, "tvk<pid>.");
}

namespace {

// The command line of a run: the gate's own, or under Wine the loader's
// with the launcher; prlimit in front for a limited address space.
std::vector<std::string> command_line(const Invocation &invocation, const Conditions &conditions,
                                      const std::string &code_path) {
  std::vector<std::string> argv;
  if (is_wine()) {
    argv = {wine_loader(), setting("TRELVIK_E2E_LAUNCHER"), seen(code_path)};
    if (invocation.create_process)
      argv.push_back("--create-process");
    if (invocation.temp.empty())
      argv.push_back("-TEMP");
    else
      argv.push_back("TEMP=" + seen(invocation.temp));
    for (const auto &[name, value] : invocation.env)
      argv.push_back(value ? name + "=" + *value : "-" + name);
    argv.push_back("--");
    argv.push_back(seen(setting("TRELVIK_E2E_BIN")));
  } else {
    argv = {setting("TRELVIK_E2E_BIN")};
  }
  argv.insert(argv.end(), invocation.args.begin(), invocation.args.end());
  // prlimit (util-linux), found on PATH, sets the limit and runs the rest.
  if (conditions.address_space_limit != 0)
    argv.insert(argv.begin(),
                {"prlimit", "--as=" + std::to_string(conditions.address_space_limit), "--"});
  return argv;
}

} // namespace

Result run(const Invocation &invocation, const Conditions &conditions) {
  ScratchFolder io;
  std::string input_path = io.write("stdin", invocation.input);
  std::string out_path = io.path() + "/stdout";
  std::string err_path = io.path() + "/stderr";
  std::string code_path = io.path() + "/code";
  std::vector<std::string> argv = command_line(invocation, conditions, code_path);
  std::vector<char *> raw_argv;
  for (std::string &argument : argv)
    raw_argv.push_back(argument.data());
  raw_argv.push_back(nullptr);
  std::vector<std::string> env = environment_for(invocation);
  std::vector<char *> raw_env;
  for (std::string &entry : env)
    raw_env.push_back(entry.data());
  raw_env.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (conditions.stdin_folder.empty())
    posix_spawn_file_actions_addopen(&actions, 0, input_path.c_str(), O_RDONLY, 0);
  else
    posix_spawn_file_actions_addopen(&actions, 0, conditions.stdin_folder.c_str(),
                                     O_RDONLY | O_DIRECTORY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  if (invocation.one_output_file)
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
  else
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
  if (!invocation.cwd.empty())
    posix_spawn_file_actions_addchdir_np(&actions, invocation.cwd.c_str());
  pid_t pid = 0;
  Result result;
  if (posix_spawnp(&pid, raw_argv[0], &actions, nullptr, raw_argv.data(), raw_env.data()) != 0) {
    result.err = "cannot start " + argv[0];
    result.code = 0xDEADu;
    return result;
  }
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  waitpid(pid, &status, 0);
  result.out = read_file(out_path);
  result.err = read_file(err_path);
  if (is_wine()) {
    std::string code = read_file(code_path);
    result.code = code.empty() ? 0xDEADu : static_cast<std::uint32_t>(std::stoul(code));
  } else if (WIFEXITED(status)) {
    result.code = static_cast<std::uint32_t>(WEXITSTATUS(status));
  } else {
    result.code = 0xDEAD0000u | static_cast<std::uint32_t>(WTERMSIG(status));
  }
  return result;
}

std::string Session::file_line(const std::string &relative, const std::string &content) const {
  return "ws\\\\" + backslashed(workspace.write(relative, content)) + "\n";
}

Result Session::run(std::vector<std::string> args, const std::string &input) const {
  return e2e::run({std::move(args), input, temp.path(), {}, ""});
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
      {"<stylecheck>", "\"" + seen(stylecheck_path()) + "\""},
      {"<not-a-folder>", wine ? "Path not found.\r\n" : "Not a directory\n"},
  };
  for (const auto &[mark, value] : marks) {
    for (std::size_t at = 0; (at = text.find(mark, at)) != std::string::npos; at += value.size())
      text.replace(at, mark.size(), value);
  }
  return text;
}

} // namespace e2e
