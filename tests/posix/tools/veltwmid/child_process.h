// Programs of the tests in processes of their own: a child whose standard input holds it and
// whose output is read line by line, and the processes that run a given executable.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace veltwmid::test {

// Live (not zombie) processes whose program is `path`.
inline std::vector<pid_t> processesOf(const std::string& path) {
  namespace fs = std::filesystem;
  std::vector<pid_t> found;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code error;
    fs::path program = fs::read_symlink(entry.path() / "exe", error);
    if (error || program.string() != path) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    std::getline(stat, line);
    auto close = line.rfind(')');
    if (close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z') continue;
    found.push_back(static_cast<pid_t>(std::stol(name)));
  }
  return found;
}

// Polls `condition` until it holds or `bound` passed.
template <typename Condition>
bool within(std::chrono::seconds bound, Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

class ChildProcess {
 public:
  ChildProcess(const std::string& program, std::vector<std::string> arguments) {
    int input[2], output[2];
    if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(input[0], STDIN_FILENO);
      dup2(output[1], STDOUT_FILENO);
      std::vector<char*> argv{const_cast<char*>(program.c_str())};
      for (std::string& a : arguments) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    close(input[0]);
    close(output[1]);
    hold_ = input[1];
    output_ = output[0];
  }
  ~ChildProcess() {
    if (hold_ >= 0) close(hold_);
    if (output_ >= 0) close(output_);
    if (pid_ > 0 && !ended_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // The next line the child wrote (within `bound`), without its end; empty when none came.
  std::string nextLine(std::chrono::seconds bound = std::chrono::seconds(30)) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + bound;
    char c;
    while (true) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd ready{output_, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) != 1 ||
          read(output_, &c, 1) != 1 || c == '\n') {
        return line;
      }
      line.push_back(c);
    }
  }
  void writeLine(const std::string& line) {
    std::string text = line + "\n";
    if (write(hold_, text.data(), text.size()) < 0) return;
  }
  void signal(int number) {
    if (pid_ > 0 && !ended_) kill(pid_, number);
  }
  pid_t pid() const { return pid_; }
  void killHard() {
    if (pid_ > 0 && !ended_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      ended_ = true;
    }
  }
  void closeInput() {
    if (hold_ >= 0) close(hold_);
    hold_ = -1;
  }
  // The exit code once ended (waiting up to `bound`), or nothing while it runs.
  std::optional<int> exitCode(std::chrono::seconds bound = std::chrono::seconds(30)) {
    within(bound, [&] { return reap(); });
    if (!ended_) return std::nullopt;
    return code_;
  }

 private:
  bool reap() {
    if (ended_) return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
    ended_ = true;
    code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return true;
  }

  pid_t pid_ = -1;
  int hold_ = -1;
  int output_ = -1;
  bool ended_ = false;
  int code_ = -1;
};

}  // namespace veltwmid::test
