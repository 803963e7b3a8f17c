// PATH as a start attempt leaves it, seen from a process that received a chosen PATH.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

namespace {

const std::string probe = VELT_TEST_PATH_PROBE;
const std::string probeDirectory = std::filesystem::path(probe).parent_path().string();

// What the probe prints when started with PATH set to `path` (or without PATH at all).
std::string probeOutput(const std::optional<std::string>& path) {
  std::string command = "env -i LANG=C " + (path ? "PATH='" + *path + "' " : "") + probe;
  FILE* output = popen(command.c_str(), "r");
  if (output == nullptr) return "popen failed";
  std::string text;
  char buffer[512];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, output)) > 0;) text.append(buffer, n);
  pclose(output);
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

// Two attempts in the probe: each extends the PATH the process received, so the directory
// appears once; an empty PATH becomes the directory alone, and an unset one stays unset.
TEST(ProgramPath, EveryAttemptExtendsThePathTheProcessReceived) {
  EXPECT_EQ(probeOutput("/x"), "PATH=/x:" + probeDirectory);
  EXPECT_EQ(probeOutput("/x:"), "PATH=/x:" + probeDirectory);
  EXPECT_EQ(probeOutput("/x:/y"), "PATH=/x:/y:" + probeDirectory);
  EXPECT_EQ(probeOutput(""), "PATH=" + probeDirectory);
  EXPECT_EQ(probeOutput(std::nullopt), "unset");
}

}  // namespace
