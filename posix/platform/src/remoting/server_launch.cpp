#include "server_launch.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <vector>

#include "command_line.h"

namespace velt::remoting {
namespace {

int openLog(const std::string& path) {
  return open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
}

}  // namespace

std::optional<pid_t> launchServer(const std::string& commandLine, const std::string& fallbackLog) {
  auto command = readServerCommand(commandLine, [](const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
           access(path.c_str(), X_OK) == 0;
  });
  if (!command || access(command->program.c_str(), X_OK) != 0) return std::nullopt;
  std::vector<std::string> arguments{command->program};
  arguments.insert(arguments.end(), command->arguments.begin(), command->arguments.end());
  arguments.push_back("-Embedding");
  // The server works in its own folder, not in whichever client's folder happened to start it:
  // one server serves every client, and what it writes to its current folder (the Java VM's
  // crash report when it cannot write where it was told) must be found in one place.
  // (A command registered relative to the client's folder is left where it was started.)
  std::string folder = ".";
  if (arguments.front().front() == '/') {
    folder = arguments.front().substr(0, arguments.front().rfind('/'));
    if (folder.empty()) folder = "/";
  }
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  // The server's own output goes beside its trace log, never to the client's terminal.
  const std::string& executable = arguments.front();
  int log = openLog(executable + ".console.log");
  if (log < 0) log = openLog(fallbackLog);
  int nothing = open("/dev/null", O_RDONLY | O_CLOEXEC);
  int report[2];
  if (log < 0 || nothing < 0 || pipe2(report, O_CLOEXEC) != 0) {
    if (log >= 0) close(log);
    if (nothing >= 0) close(nothing);
    return std::nullopt;
  }

  // Two forks: the server belongs to no client, so no client has to reap it, and a client's
  // end (or its terminal's signals) does not reach it. Only async-signal-safe calls follow.
  pid_t middle = fork();
  if (middle == 0) {
    setsid();
    pid_t server = fork();
    if (server == 0) {
      dup2(nothing, STDIN_FILENO);
      dup2(log, STDOUT_FILENO);
      dup2(log, STDERR_FILENO);
      close_range(3, ~0U, 0);  // the client's descriptors are none of the server's business
      if (chdir(folder.c_str()) != 0) _exit(126);
      execv(argv[0], argv.data());
      _exit(127);
    }
    ssize_t written = write(report[1], &server, sizeof server);
    _exit(written == sizeof server ? 0 : 1);
  }
  close(report[1]);
  close(log);
  close(nothing);
  pid_t server = -1;
  ssize_t got = -1;
  if (middle > 0) {
    do {
      got = read(report[0], &server, sizeof server);
    } while (got < 0 && errno == EINTR);
    while (waitpid(middle, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  close(report[0]);
  if (got != sizeof server || server <= 0) return std::nullopt;
  return server;
}

bool processEnded(pid_t pid) {
  if (kill(pid, 0) != 0 && errno == ESRCH) return true;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return true;
  auto close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z';
}

}  // namespace velt::remoting
