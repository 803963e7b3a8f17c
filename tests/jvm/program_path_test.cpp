// PATH as a start attempt leaves it, seen from a process that received a chosen PATH.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace {

const std::string probe = VELT_TEST_PATH_PROBE;
const std::string probeDirectory = std::filesystem::path(probe).parent_path().string();

// What the probe prints when started with PATH set to `path` (or without PATH at all).
std::string probeOutput(const std::optional<std::string>& path) {
  std::vector<std::string> environment = {"LANG=C"};
  if (path) environment.push_back("PATH=" + *path);
  std::vector<char*> envp;
  for (auto& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string program = probe;
  char* argv[] = {program.data(), nullptr};

  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return "pipe failed";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
  pid_t child = 0;
  int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(pipeEnds[1]);
  std::string output;
  char buffer[512];
  for (ssize_t n; (n = read(pipeEnds[0], buffer, sizeof buffer)) > 0;) output.append(buffer, n);
  close(pipeEnds[0]);
  if (spawned != 0) return "spawn failed";
  int status = 0;
  waitpid(child, &status, 0);
  if (!output.empty() && output.back() == '\n') output.pop_back();
  return output;
}

TEST(ProgramPath, EveryAttemptExtendsThePathTheProcessReceived) {
  EXPECT_EQ(probeOutput("/x"), "PATH=/x:" + probeDirectory);
  EXPECT_EQ(probeOutput("/x:"), "PATH=/x:" + probeDirectory);
  EXPECT_EQ(probeOutput("/x:/y"), "PATH=/x:/y:" + probeDirectory);
}

TEST(ProgramPath, EmptyPathBecomesTheDirectoryAlone) {
  EXPECT_EQ(probeOutput(""), "PATH=" + probeDirectory);
}

TEST(ProgramPath, UnsetPathStaysUnset) { EXPECT_EQ(probeOutput(std::nullopt), "unset"); }

}  // namespace
