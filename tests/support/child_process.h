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

namespace velt::test {

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
    m_pid = fork();
    if (m_pid == 0) {
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
    m_hold = input[1];
    m_output = output[0];
  }
  ~ChildProcess() {
    if (m_hold >= 0) close(m_hold);
    if (m_output >= 0) close(m_output);
    if (m_pid > 0 && !m_ended) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, nullptr, 0);
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
      pollfd ready{m_output, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) != 1 ||
          read(m_output, &c, 1) != 1 || c == '\n') {
        return line;
      }
      line.push_back(c);
    }
  }
  void writeLine(const std::string& line) {
    std::string text = line + "\n";
    if (write(m_hold, text.data(), text.size()) < 0) return;
  }
  void signal(int number) {
    if (m_pid > 0 && !m_ended) kill(m_pid, number);
  }
  pid_t pid() const { return m_pid; }
  void killHard() {
    if (m_pid > 0 && !m_ended) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, nullptr, 0);
      m_ended = true;
    }
  }
  void closeInput() {
    if (m_hold >= 0) close(m_hold);
    m_hold = -1;
  }
  // The exit code once ended (waiting up to `bound`), or nothing while it runs.
  std::optional<int> exitCode(std::chrono::seconds bound = std::chrono::seconds(30)) {
    within(bound, [&] { return reap(); });
    if (!m_ended) return std::nullopt;
    return m_code;
  }

 private:
  bool reap() {
    if (m_ended) return true;
    int status = 0;
    if (waitpid(m_pid, &status, WNOHANG) != m_pid) return false;
    m_ended = true;
    m_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return true;
  }

  pid_t m_pid = -1;
  int m_hold = -1;
  int m_output = -1;
  bool m_ended = false;
  int m_code = -1;
};

}  // namespace velt::test
