// Runs a trelvik binary the way the version-control trigger does and
// captures everything it leaves behind. The binary is the native one, or the
// Windows one under Wine (TRELVIK_E2E_TARGET=wine), chosen by the
// environment that CTest sets.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace e2e {

struct Result {
  std::string out; // standard output, line ends as the program wrote them
  std::string err;
  std::uint32_t code = 0; // the full exit code; native, ended by signal N: 0xDEAD0000 | N
};

// A scratch folder of the host, removed when the object goes.
class ScratchFolder {
public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder &) = delete;
  ScratchFolder &operator=(const ScratchFolder &) = delete;
  const std::string &path() const { return path_; } // host path, no trailing slash
  // Creates a file (and its folders) below the folder; returns its host path.
  std::string write(const std::string &relative, const std::string &content) const;
  // Every entry below the folder, folders with a trailing '/', sorted.
  std::vector<std::string> listing() const;

private:
  std::string path_;
};

struct Invocation {
  std::vector<std::string> args = {};
  std::string input = {}; // written to standard input
  std::string temp = {};  // TEMP for the run (a host path); empty: leave TEMP unset
  std::string cwd = {};   // host path; empty: the test's own
  // Under Wine the launcher starts the gate with the C runtime's _spawnv,
  // as a trigger written in C would; this starts it with CreateProcessA.
  bool create_process = false;
  // Standard output and standard error into one file, as a trigger that
  // captures both does: Result::out then holds both, Result::err is empty.
  bool one_output_file = false;
  // Host path of a folder opened as standard input, so that reading it
  // fails; empty: standard input holds the input above.
  std::string stdin_folder = {};
  // Folders made in TEMP right before the gate starts; "<pid>" in a name
  // stands for the gate's process id.
  std::vector<std::string> taken = {};
  // Under Wine: the launcher presses Ctrl-C in the gate's console once this
  // host path exists ("<pid>" for the gate's process id). The run then has
  // a console (a pseudo-terminal as standard input), so its input must come
  // from a file (-i).
  std::string ctrl_c_when = {};
  // Called once the run has started, with the process id of the gate
  // (native; it leads a process group of its own) or of Wine's loader.
  std::function<void(int pid)> meanwhile = {};
};

Result run(const Invocation &invocation);

// A workspace and a TEMP for runs of the gate.
struct Session {
  // A file written below the workspace, named in a file line of the input.
  std::string file_line(const std::string &relative, const std::string &content = "x\n") const;
  // Runs the gate with ARGS and INPUT, TEMP set to the session's.
  Result run(std::vector<std::string> args, const std::string &input) const;
  // What TEMP holds, process ids replaced as without_pid does.
  std::vector<std::string> temp_listing() const;
  // The staging folder as the program names it, "<pid>" for the id.
  std::string staging_folder() const;
  // TEXT with its marks replaced: <ws> the workspace and <stage> the staging
  // folder in the program's notation, <temp> TEMP as the program sees it,
  // <workdir> the value of WORKDIR, <\> the system's separator, <sep> that
  // separator in a fake checker's step, <stylecheck> the example checker's
  // command, <not-a-folder> the system's text for a file where a folder
  // should be.
  std::string placed(std::string text) const;

  ScratchFolder workspace;
  ScratchFolder temp;
};

bool is_wine();
// A host path as the program under test sees it (Z:\... under Wine).
std::string seen(const std::string &host_path);
// A host path written the program's way, with backslashes (Z:\... under
// Wine), as the trigger puts it in file lines.
std::string backslashed(const std::string &host_path);
// Program-written text as it arrives: "\n" becomes "\r\n" under Wine.
std::string text(const std::string &lf_text);
// The fake checker as a command line for the input protocol, with steps.
std::string checker(const std::vector<std::string> &steps);
// Replaces every process id in "tvk<pid>." by "tvk<pid>." literally.
std::string without_pid(const std::string &text);
std::string read_file(const std::string &path);

// A table row's test name: the row's own name, or the row itself when it
// is nothing but a name.
template <typename Row> std::string row_name(const testing::TestParamInfo<Row> &info) {
  return info.param.name;
}
inline std::string row_name(const testing::TestParamInfo<const char *> &info) {
  return info.param;
}

} // namespace e2e
