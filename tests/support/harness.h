// Test support: temporary folders, file bytes, and running the built tfold binary.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tfold_test {

using Bytes = std::vector<std::uint8_t>;

// A fresh folder under the system's temporary directory, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

void write_file(const std::filesystem::path& path, const Bytes& bytes);
void write_text(const std::filesystem::path& path, const std::string& text);
Bytes read_file(const std::filesystem::path& path);
std::string read_text(const std::filesystem::path& path);
Bytes slice(const Bytes& bytes, std::size_t from, std::size_t count);
// The names of the entries of folder.
std::set<std::string> listing(const std::filesystem::path& folder);
// The texts of GLib's warning lines in err ("** (PROG:PID): WARNING **: HH:MM:SS.mmm: text").
std::vector<std::string> warning_texts(const std::string& err);

struct RunResult {
  std::string out;
  std::string err;
  int status = -1;      // exit status, or -1 when killed by a signal or the timeout
  int signal = 0;       // the signal that ended the process, 0 when it exited
  bool timed_out = false;
  long max_rss_kb = 0;  // the process's peak resident memory
};

struct RunOptions {
  // Standard input: the text to feed, or std::nullopt for a closed standard input.
  std::optional<std::string> input = std::string();
  std::map<std::string, std::string> env;   // added to or replacing the defaults
  std::vector<std::string> unset_env;       // removed from the defaults (for example "PWD")
  std::optional<std::filesystem::path> cwd; // default: the run's own folder
  std::chrono::seconds timeout{60};
  bool invoke_by_name = false;              // argv[0] "tfold" instead of the binary's path
  // SIGPIPE and SIGXFSZ at their default actions, as a shell starts a program; otherwise the
  // child inherits the runner's (which ignores SIGPIPE, and may ignore SIGXFSZ).
  bool default_signals = false;
};

// Runs tfold in a temporary sandbox: HOME and XDG_CONFIG_HOME point into it, and
// $HOME/.libao selects the null audio driver, so no test touches the user's files or a
// sound card. The sandbox lives as long as the Tfold object.
class RunningTfold;

class Tfold {
 public:
  Tfold();
  const std::filesystem::path& dir() const { return dir_.path(); }  // default cwd
  std::filesystem::path home() const { return dir_.path() / ".home"; }
  std::filesystem::path config_dir() const { return dir_.path() / ".config"; }
  std::filesystem::path settings_file() const { return config_dir() / "trackfold" / "trackfold.conf"; }
  std::string operator/(const std::string& name) const { return (dir_.path() / name).string(); }

  RunResult run(const std::vector<std::string>& args, const RunOptions& options = {}) const;
  // Starts tfold like run() and returns at once, for tests that act while it works (options.input
  // is then only whether standard input is a pipe; its text is sent with send()).
  RunningTfold start(const std::vector<std::string>& args, const RunOptions& options = {}) const;

 private:
  TempDir dir_;
};

// A tfold process started by Tfold::start; killed and reaped if the test leaves it running.
// options.timeout bounds everything the test waits for.
class RunningTfold {
 public:
  RunningTfold(int pid, int in_fd, int out_fd, int err_fd, std::chrono::seconds timeout);
  ~RunningTfold();
  RunningTfold(const RunningTfold&) = delete;
  RunningTfold& operator=(const RunningTfold&) = delete;

  // Reads the output until text has appeared on standard output (or standard error); false
  // when the output ended or time ran out first.
  bool wait_for_output(const std::string& text, bool on_stderr = false);
  // Polls condition while draining the output; false when time ran out or the process ended
  // first.
  bool wait_until(const std::function<bool()>& condition);
  void send(const std::string& input);
  void signal(int signal_number) const;
  // Closes standard input, reads the output to its end and waits for the process.
  RunResult finish();
  const RunResult& so_far() const { return result_; }

 private:
  bool read_some();

  int pid_;
  int in_fd_;
  int out_fd_;
  int err_fd_;
  std::chrono::steady_clock::time_point deadline_;
  RunResult result_;
};

std::string binary_path();
// Media made by scripts/make-fixtures.sh at build time.
std::filesystem::path fixture(const std::string& name);

}  // namespace tfold_test
