#include "support/harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace tfold_test {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "tfold-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Tests may leave read-only folders behind; make them removable first.
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::end(it); it.increment(ec)) {
    if (it->is_directory(ec)) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

void write_file(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

void write_text(const fs::path& path, const std::string& text) {
  write_file(path, Bytes(text.begin(), text.end()));
}

Bytes read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string read_text(const fs::path& path) {
  const Bytes bytes = read_file(path);
  return std::string(bytes.begin(), bytes.end());
}

Bytes slice(const Bytes& bytes, std::size_t from, std::size_t count) {
  if (from > bytes.size()) return {};
  count = std::min(count, bytes.size() - from);
  return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
               bytes.begin() + static_cast<std::ptrdiff_t>(from + count));
}

std::set<std::string> listing(const std::filesystem::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
}

std::vector<std::string> warning_texts(const std::string& err) {
  std::vector<std::string> texts;
  const std::string marker = "WARNING **: ";
  for (std::size_t at = err.find(marker); at != std::string::npos; at = err.find(marker, at)) {
    const std::size_t time_end = err.find(": ", at + marker.size());
    const std::size_t line_end = err.find('\n', time_end);
    texts.push_back(err.substr(time_end + 2, line_end - time_end - 2));
    at = line_end;
  }
  return texts;
}

std::string binary_path() { return TFOLD_BINARY; }

fs::path fixture(const std::string& name) { return fs::path(TFOLD_FIXTURE_DIR) / name; }

Tfold::Tfold() {
  fs::create_directories(home());
  write_text(home() / ".libao", "default_driver=null\n");
}

namespace {

std::vector<std::string> build_environment(const Tfold& sandbox, const RunOptions& options,
                                           const fs::path& cwd) {
  std::map<std::string, std::string> env;
  for (const char* name : {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS", "LSAN_OPTIONS"}) {
    if (const char* value = std::getenv(name)) env[name] = value;
  }
  env["HOME"] = sandbox.home().string();
  env["XDG_CONFIG_HOME"] = sandbox.config_dir().string();
  env["PWD"] = cwd.string();
  env["LANG"] = "C";
  env["LC_ALL"] = "C";
  for (const auto& [name, value] : options.env) env[name] = value;
  for (const auto& name : options.unset_env) env.erase(name);
  std::vector<std::string> list;
  for (const auto& [name, value] : env) list.push_back(name + "=" + value);
  return list;
}

std::vector<char*> c_strings(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (auto& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Moves data between the child's pipes until both output pipes close or time runs out.
bool pump(int in_fd, int out_fd, int err_fd, const std::string& input, RunResult& result,
          std::chrono::steady_clock::time_point deadline) {
  std::size_t written = 0;
  if (in_fd >= 0 && input.empty()) {
    close(in_fd);
    in_fd = -1;
  }
  while (out_fd >= 0 || err_fd >= 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd fds[3];
    int count = 0;
    for (int fd : {out_fd, err_fd}) {
      if (fd >= 0) fds[count++] = {fd, POLLIN, 0};
    }
    if (in_fd >= 0) fds[count++] = {in_fd, POLLOUT, 0};
    if (poll(fds, static_cast<nfds_t>(count), static_cast<int>(left.count())) < 0 && errno != EINTR) return false;
    for (int i = 0; i < count; ++i) {
      if (fds[i].revents == 0) continue;
      if (fds[i].fd == in_fd) {
        const ssize_t n = write(in_fd, input.data() + written, input.size() - written);
        if (n > 0) written += static_cast<std::size_t>(n);
        if (n < 0 || written == input.size()) {
          close(in_fd);
          in_fd = -1;
        }
        continue;
      }
      char buffer[65536];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      std::string& sink = fds[i].fd == out_fd ? result.out : result.err;
      if (n > 0) {
        sink.append(buffer, static_cast<std::size_t>(n));
      } else {
        close(fds[i].fd);
        (fds[i].fd == out_fd ? out_fd : err_fd) = -1;
      }
    }
  }
  if (in_fd >= 0) close(in_fd);
  return true;
}

}  // namespace

namespace {

struct Child {
  pid_t pid = -1;
  int in_fd = -1;  // -1 when standard input is closed
  int out_fd = -1;
  int err_fd = -1;
};

Child spawn(const Tfold& sandbox, const std::vector<std::string>& args, const RunOptions& options) {
  const fs::path cwd = options.cwd.value_or(sandbox.dir());
  std::vector<std::string> argv_texts{options.invoke_by_name ? "tfold" : binary_path()};
  argv_texts.insert(argv_texts.end(), args.begin(), args.end());
  std::vector<std::string> env_texts = build_environment(sandbox, options, cwd);
  std::vector<char*> argv = c_strings(argv_texts);
  std::vector<char*> envp = c_strings(env_texts);

  int in_pipe[2] = {-1, -1}, out_pipe[2], err_pipe[2];
  if (options.input && pipe(in_pipe) != 0) throw std::runtime_error("pipe");
  if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) throw std::runtime_error("pipe");
  signal(SIGPIPE, SIG_IGN);

  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    if (options.input) {
      dup2(in_pipe[0], STDIN_FILENO);
    } else {
      close(STDIN_FILENO);
    }
    dup2(out_pipe[1], STDOUT_FILENO);
    dup2(err_pipe[1], STDERR_FILENO);
    for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) {
      if (fd > STDERR_FILENO) close(fd);
    }
    if (chdir(cwd.c_str()) != 0) _exit(126);
    if (options.default_signals) {
      signal(SIGPIPE, SIG_DFL);
      signal(SIGXFSZ, SIG_DFL);
    }
    setpgid(0, 0);
    execve(binary_path().c_str(), argv.data(), envp.data());
    _exit(127);
  }
  if (options.input) close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  return {pid, options.input ? in_pipe[1] : -1, out_pipe[0], err_pipe[0]};
}

void reap(pid_t pid, RunResult& result) {
  int wstatus = 0;
  struct rusage usage {};
  wait4(pid, &wstatus, 0, &usage);
  result.max_rss_kb = usage.ru_maxrss;
  result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  result.signal = WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0;
}

}  // namespace

RunResult Tfold::run(const std::vector<std::string>& args, const RunOptions& options) const {
  const Child child = spawn(*this, args, options);
  RunResult result;
  const auto deadline = std::chrono::steady_clock::now() + options.timeout;
  if (!pump(child.in_fd, child.out_fd, child.err_fd, options.input.value_or(""), result, deadline)) {
    result.timed_out = true;
    kill(-child.pid, SIGKILL);
    kill(child.pid, SIGKILL);
  }
  reap(child.pid, result);
  return result;
}

RunningTfold Tfold::start(const std::vector<std::string>& args, const RunOptions& options) const {
  const Child child = spawn(*this, args, options);
  return RunningTfold(child.pid, child.in_fd, child.out_fd, child.err_fd, options.timeout);
}

RunningTfold::RunningTfold(int pid, int in_fd, int out_fd, int err_fd, std::chrono::seconds timeout)
    : pid_(pid), in_fd_(in_fd), out_fd_(out_fd), err_fd_(err_fd),
      deadline_(std::chrono::steady_clock::now() + timeout) {}

RunningTfold::~RunningTfold() {
  if (pid_ < 0) return;
  kill(-pid_, SIGKILL);
  kill(pid_, SIGKILL);
  for (int fd : {in_fd_, out_fd_, err_fd_}) {
    if (fd >= 0) close(fd);
  }
  waitpid(pid_, nullptr, 0);
}

bool RunningTfold::read_some() {
  pollfd fds[2];
  nfds_t count = 0;
  for (int fd : {out_fd_, err_fd_}) {
    if (fd >= 0) fds[count++] = {fd, POLLIN, 0};
  }
  if (count == 0) return false;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - std::chrono::steady_clock::now());
  if (left.count() <= 0) return false;
  if (poll(fds, count, static_cast<int>(left.count())) < 0 && errno != EINTR) return false;
  for (nfds_t i = 0; i < count; ++i) {
    if (fds[i].revents == 0) continue;
    char buffer[65536];
    const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
    const bool is_out = fds[i].fd == out_fd_;
    if (n > 0) {
      (is_out ? result_.out : result_.err).append(buffer, static_cast<std::size_t>(n));
    } else {
      close(fds[i].fd);
      (is_out ? out_fd_ : err_fd_) = -1;
    }
  }
  return true;
}

bool RunningTfold::wait_for_output(const std::string& text, bool on_stderr) {
  const std::string& seen = on_stderr ? result_.err : result_.out;
  while (seen.find(text) == std::string::npos) {
    if (!read_some()) return false;
  }
  return true;
}

bool RunningTfold::wait_until(const std::function<bool()>& condition) {
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline_) return false;
    // Keeps the pipes drained so the child never blocks on a full one meanwhile.
    pollfd fds[2];
    nfds_t count = 0;
    for (int fd : {out_fd_, err_fd_}) {
      if (fd >= 0) fds[count++] = {fd, POLLIN, 0};
    }
    // Both pipes closed: the process has ended, and with it any chance of the condition.
    if (count == 0) return condition();
    if (poll(fds, count, 10) > 0) read_some();
  }
  return true;
}

void RunningTfold::send(const std::string& input) {
  if (in_fd_ < 0) return;
  for (std::size_t written = 0; written < input.size();) {
    const ssize_t n = write(in_fd_, input.data() + written, input.size() - written);
    if (n <= 0) return;
    written += static_cast<std::size_t>(n);
  }
}

void RunningTfold::signal(int signal_number) const { kill(pid_, signal_number); }

RunResult RunningTfold::finish() {
  if (in_fd_ >= 0) close(in_fd_);
  in_fd_ = -1;
  while (out_fd_ >= 0 || err_fd_ >= 0) {
    if (!read_some()) {
      result_.timed_out = true;
      kill(-pid_, SIGKILL);
      kill(pid_, SIGKILL);
      break;
    }
  }
  for (int* fd : {&out_fd_, &err_fd_}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
  reap(pid_, result_);
  pid_ = -1;
  return result_;
}

}  // namespace tfold_test
