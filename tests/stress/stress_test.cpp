// The provider under load for a bounded time: request threads mix every served operation, with
// successes and failures, on one provider object; another thread makes provider objects of its
// own and releases them. Afterwards every request must have had its
// expected outcome, every stand-in object must be gone again, and the trace log must hold
// exactly the records that were written, each whole, and no warning of the VM. Events go
// through the real Glue in the event storm test.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <owners/unique_handle.h>
#include <owners/utf_text.h>

#include <oleauto.h>
#include <wmi/service.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "counting_sink.h"
#include "in_process_server.h"
#include "java_control.h"

namespace {

using velt::host::CountingSink;
using velt::host::InProcessServer;
using Clock = std::chrono::steady_clock;

constexpr int kRequestThreads = 4;
constexpr int kEnumerationSize = 5;

std::chrono::seconds runTime() {
  const char* configured = std::getenv("VELT_STRESS_SECONDS");
  return std::chrono::seconds(configured != nullptr ? std::atoi(configured) : 20);
}

// What one kind of request sends and what must come back.
struct Expectation {
  long objects;
  HRESULT status;
};

enum Operation { kGet, kGetMissing, kPut, kPutKeyless, kEnumerate, kExec, kExecMissing, kCount };

const Expectation kExpected[kCount] = {{1, WBEM_S_NO_ERROR},
                                       {0, WBEM_E_FAILED},
                                       {1, WBEM_S_NO_ERROR},
                                       {0, WBEM_E_INVALID_OBJECT_PATH},
                                       {kEnumerationSize, WBEM_S_NO_ERROR},
                                       {1, WBEM_S_NO_ERROR},
                                       {0, WBEM_E_FAILED}};

std::vector<std::string> readLines(const std::filesystem::path& path) {
  std::vector<std::string> lines;
  std::ifstream log(path);
  for (std::string line; std::getline(log, line);) lines.push_back(line);
  return lines;
}

TEST(ProviderStress, EveryOperationFromManyThreadsHasItsOutcomeAndLeavesNothingBehind) {
  velt::host::HostOptions options;
  options.traceLog = true;
  InProcessServer host(options);
  IWbemServices* services = host.services();

  velt::UniqueBstr itemPath = velt::bstrFromUtf16(u"Bench_Item.Name=\"a\""),
                   missingPath = velt::bstrFromUtf16(u"Bench_Item.Name=\"missing\"");
  velt::UniqueBstr itemClass = velt::bstrFromUtf16(u"Bench_Item"),
                   method = velt::bstrFromUtf16(u"Grow");
  // A first request starts the server and its VM, which the host's hand on Java then joins.
  auto* first = new CountingSink();
  services->GetObjectAsync(missingPath.get(), 0, nullptr, first);
  first->Release();
  velt::host::JavaControl java;
  ASSERT_TRUE(java.ready());
  IWbemClassObject* item = host.newItem(u"a");
  IWbemClassObject* keyless = host.newItem(nullptr);
  ASSERT_NE(item, nullptr);
  ASSERT_NE(keyless, nullptr);
  java.setInstance(item);
  java.setEnumerationSize(kEnumerationSize);

  auto run = [&](Operation operation, IWbemObjectSink* sink) {
    switch (operation) {
      case kGet:
        return services->GetObjectAsync(itemPath.get(), 0, nullptr, sink);
      case kGetMissing:
        return services->GetObjectAsync(missingPath.get(), 0, nullptr, sink);
      case kPut:
        return services->PutInstanceAsync(item, 0, nullptr, sink);
      case kPutKeyless:
        return services->PutInstanceAsync(keyless, 0, nullptr, sink);
      case kEnumerate:
        return services->CreateInstanceEnumAsync(itemClass.get(), 0, nullptr, sink);
      case kExec:
        return services->ExecMethodAsync(itemPath.get(), method.get(), 0, nullptr, nullptr, sink);
      case kExecMissing:
      default:
        return services->ExecMethodAsync(missingPath.get(), method.get(), 0, nullptr, nullptr,
                                         sink);
    }
  };

  const Clock::time_point deadline = Clock::now() + runTime();
  std::atomic<long> requests[kCount] = {};
  std::atomic<long> wrongOutcomes{0};
  std::atomic<long> providersMade{0}, providersFailed{0};

  std::vector<std::thread> threads;
  for (int t = 0; t < kRequestThreads; ++t) {
    threads.emplace_back([&, t] {
      for (unsigned n = t; Clock::now() < deadline; ++n) {
        auto operation = static_cast<Operation>(n % kCount);
        auto* sink = new CountingSink();
        HRESULT hr = run(operation, sink);
        requests[operation]++;
        if (hr != WBEM_S_NO_ERROR || sink->completions() != 1 ||
            sink->indicated() != kExpected[operation].objects ||
            sink->lastStatus() != kExpected[operation].status) {
          wrongOutcomes++;
        }
        sink->Release();
      }
    });
  }
  threads.emplace_back([&] {
    while (Clock::now() < deadline) {
      IWbemServices* provider = host.newProviderObject();
      if (provider == nullptr) {
        providersFailed++;
        continue;
      }
      providersMade++;
      provider->Release();
    }
  });
  for (std::thread& thread : threads) thread.join();

  EXPECT_EQ(wrongOutcomes.load(), 0);
  EXPECT_EQ(providersFailed.load(), 0);
  EXPECT_GT(providersMade.load(), 0);
  for (int operation = 0; operation < kCount; ++operation) EXPECT_GT(requests[operation], 0);

  java.setInstance(nullptr);
  item->Release();
  keyless->Release();
  EXPECT_TRUE(host.shutDown());
  EXPECT_EQ(velt::wmi::liveObjectCount(), host.liveObjectsAtStart());

  // Every record of the provider is one line "0x<thread> <text>"; counting the texts each
  // request writes proves that none was lost, doubled or broken by another thread's record.
  std::map<std::string, long> texts;
  long brokenProviderLines = 0;
  for (const std::string& line : readLines(host.logPath())) {
    EXPECT_EQ(line.find("WARNING"), std::string::npos) << "the VM reported: " << line;
    const std::size_t space = line.find(' ');
    const bool record = line.rfind("0x", 0) == 0 && space > 2 && space != std::string::npos &&
                        line.find_first_not_of("0123456789abcdef", 2) == space;
    const std::string text = record ? line.substr(space + 1) : line;
    if (record) texts[text]++;
    // A provider record that another thread's broke shows a second thread prefix, or none.
    const bool provider = text.find("CProxyProvider") != std::string::npos ||
                          (!record && text.find("Glue::") != std::string::npos);
    if (provider && (!record || text.find("0x") != std::string::npos)) brokenProviderLines++;
  }
  EXPECT_EQ(brokenProviderLines, 0);
  long gets = requests[kGet] + requests[kGetMissing];
  long puts = requests[kPut] + requests[kPutKeyless];
  long execs = requests[kExec] + requests[kExecMissing];
  EXPECT_EQ(texts["CProxyProvider::GetObjectAsync()"], gets + 1);
  EXPECT_EQ(texts["Glue::getInstance() invoked successfully..."], requests[kGet]);
  EXPECT_EQ(texts["Leaving CProxyProvider::GetObjectAsync()"], requests[kGet]);
  EXPECT_EQ(texts["A JNI Exception occurred: No instance Bench_Item.Name=\"missing\""],
            requests[kGetMissing] + 1);
  EXPECT_EQ(texts["CProxyProvider::PutInstanceAsync()"], puts);
  EXPECT_EQ(texts["Leaving CProxyProvider::PutInstanceAsync()"], requests[kPut]);
  EXPECT_EQ(texts["CProxyProvider::CreateInstanceEnumAsync"], requests[kEnumerate]);
  EXPECT_EQ(texts["About to call Glue::enumInstances"], requests[kEnumerate]);
  EXPECT_EQ(texts["Leaving CreateInstanceEnumAsync"], requests[kEnumerate]);
  EXPECT_EQ(texts["CProxyProvider::ExecMethodAsync()"], execs);
  EXPECT_EQ(texts["Leaving CProxyProvider::ExecMethodAsync()"], requests[kExec]);
  EXPECT_EQ(texts["A JNI Exception occurred: No object Bench_Item.Name=\"missing\""],
            requests[kExecMissing]);
  // The subscribed provider object and every one made by the second thread.
  EXPECT_EQ(texts["Glue object created..."], providersMade.load() + 1);
  EXPECT_EQ(texts["CProxyProvider::CProxyProvider()"], providersMade.load() + 1);
  EXPECT_EQ(texts["CProxyProvider::~CProxyProvider()"], providersMade.load() + 1);
}

}  // namespace
