// How long an event takes from a put in one veltwmi process to a watch in another, both clients
// of one veltwmid, against a bare round trip on the same kind of socket measured in the same run.
// The sample's provider serves the put and fires the event; this process timestamps the line it
// hands to the putting client and the line the watching client prints, so one clock measures
// both ends. The processes run in an environment of their own (registry, repository, runtime
// folder), and the daemon and the provider's server end by their idle time afterwards.
//
//   bench_event_latency [--events N] [--warmup N] [--tools FOLDER] [--java-home FOLDER]
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "child_process.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using velt::test::ChildProcess;

constexpr char kSetting[] = "BenchEventLatency";
// What a put's request and an event's object roughly take on the wire, each way.
constexpr size_t kFloorBytes = 512;

double microseconds(Clock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

struct Options {
  int events = 300;
  int warmup = 30;
  fs::path tools;
  fs::path javaHome = "/usr/lib/jvm/java-17-openjdk-amd64";
};

Options parse(int argc, char** argv) {
  Options options;
  options.tools = fs::read_symlink("/proc/self/exe").parent_path();
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    if (i + 1 >= argc) throw std::runtime_error("a value is missing after " + name);
    std::string value = argv[++i];
    if (name == "--events") {
      options.events = std::max(1, std::atoi(value.c_str()));
    } else if (name == "--warmup") {
      options.warmup = std::max(0, std::atoi(value.c_str()));
    } else if (name == "--tools") {
      options.tools = value;
    } else if (name == "--java-home") {
      options.javaHome = value;
    } else {
      throw std::runtime_error("unknown option " + name);
    }
  }
  return options;
}

// A process that answers every message with one of the same size, over a socket pair: the
// transport's own floor.
class EchoPeer {
 public:
  EchoPeer() {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
      throw std::runtime_error("no socket pair");
    }
    m_child = fork();
    if (m_child == 0) {
      close(fds[0]);
      std::vector<char> buffer(kFloorBytes);
      while (readAll(fds[1], buffer.data(), buffer.size()) &&
             writeAll(fds[1], buffer.data(), buffer.size())) {
      }
      _exit(0);
    }
    close(fds[1]);
    m_fd = fds[0];
  }
  ~EchoPeer() {
    close(m_fd);
    waitpid(m_child, nullptr, 0);
  }
  EchoPeer(const EchoPeer&) = delete;
  EchoPeer& operator=(const EchoPeer&) = delete;

  Clock::duration roundTrip() {
    std::vector<char> buffer(kFloorBytes, 'x');
    auto start = Clock::now();
    if (!writeAll(m_fd, buffer.data(), buffer.size()) ||
        !readAll(m_fd, buffer.data(), buffer.size())) {
      throw std::runtime_error("the echo process went away");
    }
    return Clock::now() - start;
  }

 private:
  static bool readAll(int fd, char* data, size_t size) {
    while (size > 0) {
      ssize_t got = read(fd, data, size);
      if (got <= 0) return false;
      data += got;
      size -= size_t(got);
    }
    return true;
  }
  static bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
      ssize_t put = write(fd, data, size);
      if (put <= 0) return false;
      data += put;
      size -= size_t(put);
    }
    return true;
  }

  int m_fd = -1;
  pid_t m_child = -1;
};

// The folders this run's processes use, and the environment that points them there.
class Environment {
 public:
  explicit Environment(const Options& options) {
    std::string pattern = (fs::temp_directory_path() / "velt-events-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no scratch folder");
    m_root = pattern;
    fs::create_directories(m_root / "run");
    fs::create_directories(m_root / "config" / "norvexvelt");
    fs::permissions(m_root / "run", fs::perms::owner_all);
    // Both end soon after the last client, so nothing of this run outlives it for long.
    std::ofstream(m_root / "config" / "norvexvelt" / "veltwmid.conf")
        << "provider-idle-seconds = 1\ndaemon-idle-seconds = 1\n";
    setenv("VELT_REGISTRY", (m_root / "registry.db").c_str(), 1);
    setenv("XDG_DATA_HOME", (m_root / "data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (m_root / "config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (m_root / "run").c_str(), 1);
    const char* path = std::getenv("PATH");
    std::string search =
        std::string(path ? path : "") + ":" + (options.javaHome / "lib/server").string();
    setenv("PATH", search.c_str(), 1);
  }
  ~Environment() {
    // The daemon and the provider's server of this run end by their idle time; only then is
    // their folder taken away.
    velt::test::within(std::chrono::seconds(60), [&] { return ours().empty(); });
    for (pid_t pid : ours()) kill(pid, SIGKILL);
    std::error_code ignored;
    fs::remove_all(m_root, ignored);
  }
  Environment(const Environment&) = delete;
  Environment& operator=(const Environment&) = delete;

 private:
  // Live processes whose runtime folder is this run's.
  std::vector<pid_t> ours() const {
    const std::string mark = "XDG_RUNTIME_DIR=" + (m_root / "run").string();
    std::vector<pid_t> found;
    for (const auto& entry : fs::directory_iterator("/proc")) {
      const std::string name = entry.path().filename().string();
      if (name.find_first_not_of("0123456789") != std::string::npos) continue;
      pid_t pid = static_cast<pid_t>(std::stol(name));
      if (pid == getpid()) continue;
      std::ifstream environ(entry.path() / "environ", std::ios::binary);
      std::string variable;
      bool mine = false;
      while (std::getline(environ, variable, '\0')) mine = mine || variable == mark;
      std::ifstream stat(entry.path() / "stat");
      std::string line;
      std::getline(stat, line);
      auto close = line.rfind(')');
      bool zombie = close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z';
      if (mine && !zombie) found.push_back(pid);
    }
    return found;
  }

  fs::path m_root;
};

// The value a line of JSON gives `name` ("name": "value"), or empty.
std::string jsonText(const std::string& line, const std::string& name) {
  std::string key = "\"" + name + "\": \"";
  auto at = line.find(key);
  if (at == std::string::npos) return {};
  at += key.size();
  return line.substr(at, line.find('"', at) - at);
}

double percentile(std::vector<double> values, double share) {
  std::sort(values.begin(), values.end());
  size_t index = static_cast<size_t>(share * double(values.size() - 1) + 0.5);
  return values[std::min(index, values.size() - 1)];
}

std::string machine() {
  double load[3] = {0, 0, 0};
  getloadavg(load, 3);
  char when[64];
  std::time_t now = std::time(nullptr);
  std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%S%z", std::gmtime(&now));
  char text[256];
  std::snprintf(text, sizeof text, "%ld CPUs, load average %.2f, %.2f, %.2f; run %s",
                sysconf(_SC_NPROCESSORS_ONLN), load[0], load[1], load[2], when);
  return text;
}

int run(const Options& options) {
  const std::string veltwmi = (options.tools / "veltwmi").string();
  const std::string server = (options.tools / "VeltProxyProvider").string();
  for (const std::string& program : {veltwmi, server}) {
    if (!fs::exists(program)) throw std::runtime_error(program + " is missing: build veltwmi");
  }
  Environment environment(options);
  if (std::system(("'" + server + "' -RegServer >/dev/null").c_str()) != 0) {
    throw std::runtime_error("VeltProxyProvider -RegServer failed");
  }
  EchoPeer echo;
  const std::string query =
      std::string("SELECT * FROM NorvexJvm_SettingChanged WHERE Name = '") + kSetting + "'";
  ChildProcess putter(veltwmi, {"run", "-", "--format", "json"});
  // The first put starts the daemon and the provider's server; its answer says both are up.
  putter.writeLine(std::string("put NorvexJvm_Setting Name=") + kSetting + " Value=start");
  if (jsonText(putter.nextLine(std::chrono::seconds(120)), "Value") != "start") {
    throw std::runtime_error("the first put was not answered");
  }
  ChildProcess watcher(veltwmi, {"watch", query, "--format", "json"});

  std::vector<double> latencies, floors;
  int sequence = 0;
  bool subscribed = false;
  // Until the watch is subscribed, an event may be missed: puts go on until one is seen.
  for (int attempt = 0; attempt < 200 && !subscribed; ++attempt) {
    std::string value = "probe" + std::to_string(attempt);
    putter.writeLine(std::string("put NorvexJvm_Setting Name=") + kSetting + " Value=" + value);
    putter.nextLine();
    std::string seen = watcher.nextLine(std::chrono::seconds(attempt == 0 ? 10 : 1));
    subscribed = !seen.empty();
    while (subscribed && jsonText(seen, "NewValue") != value) seen = watcher.nextLine();
  }
  if (!subscribed) throw std::runtime_error("the watch saw no event");

  for (int i = 0; i < options.warmup + options.events; ++i) {
    std::string value = std::to_string(++sequence);
    std::string line = std::string("put NorvexJvm_Setting Name=") + kSetting + " Value=" + value;
    auto sent = Clock::now();
    putter.writeLine(line);
    std::string seen = watcher.nextLine();
    auto arrived = Clock::now();
    if (jsonText(seen, "NewValue") != value) {
      throw std::runtime_error("the watch printed \"" + seen + "\" for the put of " + value);
    }
    if (jsonText(putter.nextLine(), "Value") != value) {
      throw std::runtime_error("the put of " + value + " was not answered");
    }
    Clock::duration floor = echo.roundTrip();
    if (i < options.warmup) continue;
    latencies.push_back(microseconds(arrived - sent));
    floors.push_back(microseconds(floor));
  }
  watcher.signal(SIGINT);
  putter.closeInput();
  watcher.exitCode();
  putter.exitCode();

  double median = percentile(latencies, 0.5);
  double floorMedian = percentile(floors, 0.5);
  std::printf("Machine: %s\n", machine().c_str());
  std::printf("events: %zu after %d warm-up events\n", latencies.size(), options.warmup);
  std::printf("put -> event in another client: median %.0f us (p10 %.0f, p90 %.0f, max %.0f)\n",
              median, percentile(latencies, 0.1), percentile(latencies, 0.9),
              percentile(latencies, 1.0));
  std::printf(
      "bare round trip, unix stream socket, %zu bytes each way: median %.1f us "
      "(p10 %.1f, p90 %.1f)\n",
      kFloorBytes, floorMedian, percentile(floors, 0.1), percentile(floors, 0.9));
  std::printf("ratio to the round trip: %.1f; bound 10 ms at the median: %s\n",
              median / floorMedian, median <= 10000 ? "met" : "missed");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(parse(argc, argv));
  } catch (const std::exception& fault) {
    std::fprintf(stderr, "bench_event_latency: %s\n", fault.what());
    return 1;
  }
}
