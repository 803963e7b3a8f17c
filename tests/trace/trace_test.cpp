// The trace log as the files on disk show it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "seams.h"
#include "trace/trace.h"

namespace fs = std::filesystem;
namespace seams = velt::test::seams;
using ::testing::ElementsAre;
using ::testing::StartsWith;

namespace {

// Read as text, as it was written: on Windows the line ends on disk are CR LF.
std::string readFile(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::stringstream in(text);
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

std::string threadPrefix() {
  char prefix[16];
  std::snprintf(prefix, sizeof prefix, "0x%x ", static_cast<unsigned>(GetCurrentThreadId()));
  return prefix;
}

class TraceLogTest : public ::testing::Test {
 protected:
  // The log is closed before its files go: an open file cannot be deleted on Windows.
  void TearDown() override { closeTraceLog(); }

  void placeMarkerFile() { std::ofstream(m_markerPath) << "ignored"; }
  const fs::path& logPath() const { return m_logPath; }
  std::string log() const { return readFile(logPath()); }
  // What follows the executable's path on the first line.
  std::string records() const { return log().substr(m_executable.size() + 1); }

  seams::ExecutableFolder m_folder{"", "VeltProxyProvider"};
  const std::string m_executable = m_folder.executable();
  const fs::path m_markerPath = m_folder.file("qelvor.dbg");
  const fs::path m_logPath = m_folder.file("qelvor.log");
};

TEST_F(TraceLogTest, WithoutMarkerNoLogIsWrittenAndAnOldOneStays) {
  openTraceLog();
  trace("CFactory", "dropped", 0);
  closeTraceLog();
  EXPECT_FALSE(fs::exists(logPath()));

  std::ofstream(logPath()) << "earlier run\n";
  openTraceLog();
  trace("CFactory", "dropped", 0);
  closeTraceLog();
  EXPECT_EQ(readFile(logPath()), "earlier run\n");
}

TEST_F(TraceLogTest, MarkerFileOrFolderStartsAFreshLogHeadedByTheExecutablePath) {
  std::ofstream(logPath()) << "0x1 left from an earlier run\n";
  placeMarkerFile();
  openTraceLog();
  EXPECT_EQ(log(), m_executable + "\n");
  closeTraceLog();

  fs::remove(m_markerPath);
  fs::create_directory(m_markerPath);
  openTraceLog();
  trace("JvmServices", "Found jvm.dll and loaded it.", 0);
  EXPECT_EQ(log(), m_executable + "\n" + threadPrefix() + "Found jvm.dll and loaded it.\n\n");
}

TEST_F(TraceLogTest, ExecutableWithoutUsableDirectoryLeavesLoggingOff) {
  if (!m_folder.pretendExecutablePath("VeltProxyProvider")) {
    GTEST_SKIP() << "the real executable's path always has a usable folder";
  }
  placeMarkerFile();
  openTraceLog();
  m_folder.pretendExecutablePath("/VeltProxyProvider");
  openTraceLog();
  trace("CFactory", "dropped", 0);
  EXPECT_FALSE(fs::exists(logPath()));
}

void traceJavaMessage(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  traceLine("JvmServices", format, &arguments, 1);
  va_end(arguments);
}

TEST_F(TraceLogTest, EachEntryPointFormatsItsRecord) {
  placeMarkerFile();
  openTraceLog();
  trace("CProxyProvider", "100%d sure", 0);
  trace("CProxyProvider", "positive status", 5);
  traceFormat("CProxyProvider", "100%d sure", 7);
  traceLine("JvmServices", "ucTemp = %s", "C:/jre", 0);
  traceJavaMessage("[%s loaded, %d classes]", "java.base", 42);
  std::string prefix = threadPrefix();
  EXPECT_EQ(records(), prefix + "100%d sure\n\n" + prefix + "positive status\n\n" + prefix +
                           "1007 sure\n" + prefix + "ucTemp = C:/jre\n\n" + prefix +
                           "[java.base loaded, 42 classes]\n\n");
}

TEST_F(TraceLogTest, NegativeStatusAddsTheSystemTextRecord) {
  placeMarkerFile();
  openTraceLog();
  trace("CFactory", "with a system text", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  trace("CProxyProvider", "with a WMI status", static_cast<LONG>(0x80041001));
  std::string prefix = threadPrefix();
  std::vector<std::string> written = lines(records());
  // The system's text ends in its own line end, so its record is followed by two empty lines.
  ASSERT_EQ(written.size(), 9u) << records();
  EXPECT_EQ(written[0], prefix + "with a system text");
  EXPECT_THAT(written[2], StartsWith(prefix + prefix + "Error (80070002): "));
  EXPECT_GT(written[2].size(), (prefix + prefix + "Error (80070002): \r").size());
  EXPECT_EQ(written[5], prefix + "with a WMI status");
  EXPECT_EQ(written[7], prefix + prefix + "Error (80041001): (no system text)");
}

TEST_F(TraceLogTest, OverlongRecordsAreCutToTheBuffer) {
  placeMarkerFile();
  openTraceLog();
  std::string longText(5000, 'x');
  trace("CFactory", longText.c_str(), 0);
  traceLine("JvmServices", longText.c_str(), "unused", 0);
  std::vector<std::string> written = lines(records());
  ASSERT_EQ(written.size(), 2u);
  // 2048 bytes with the terminating zero: prefix and text fill 2047.
  EXPECT_EQ(written[0], threadPrefix() + std::string(2047 - threadPrefix().size(), 'x'));
  EXPECT_EQ(written[1], written[0]);
}

TEST_F(TraceLogTest, UncreatableLogAndClosedLogDropRecordsQuietly) {
  placeMarkerFile();
  fs::create_directory(logPath());
  openTraceLog();
  trace("CFactory", "dropped", 0);
  EXPECT_TRUE(fs::is_directory(logPath()));
  fs::remove(logPath());

  openTraceLog();
  closeTraceLog();
  trace("CFactory", "after the close", 0);
  EXPECT_EQ(log(), m_executable + "\n");
}

TEST_F(TraceLogTest, RecordsFromManyThreadsArriveWholeAndAllCounted) {
  placeMarkerFile();
  openTraceLog();
  constexpr int kThreads = 8;
  constexpr int kRecords = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kRecords; ++i) traceFormat("CFactory", "thread %d record %d", t, i);
    });
  }
  for (std::thread& thread : threads) thread.join();
  closeTraceLog();

  std::map<unsigned, int> nextRecordOfThread;
  std::vector<std::string> written = lines(records());
  ASSERT_EQ(written.size(), static_cast<size_t>(kThreads * kRecords));
  for (const std::string& line : written) {
    // A whole record is "0x<hex> thread <n> record <n>" and nothing more.
    unsigned long address = 0;
    unsigned thread = 0;
    int record = -1;
    int consumed = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "0x%lx thread %u record %d%n", &address, &thread, &record,
                          &consumed),
              3)
        << line;
    ASSERT_EQ(static_cast<size_t>(consumed), line.size()) << line;
    EXPECT_EQ(record, nextRecordOfThread[thread]++) << line;
  }
  EXPECT_EQ(nextRecordOfThread.size(), static_cast<size_t>(kThreads));
}

}  // namespace
