// Reading MOF costs what the text declares. Each large text is read in a child process
// under a processor-time limit (and, where no sanitizer reserves address space, a memory
// limit) that a reader with quadratic parts exceeds by far and a linear one stays well
// inside. This program links the object model alone, as a process holding only objects does.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "wmi_model/class_object.h"
#include "wmi_model/low_arena.h"
#include "wmi_model/mof_reader.h"

namespace velt::wmi::detail {
namespace {

// Sanitizers slow the reader several times over; a quadratic reader still exceeds their limit
// by hours.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kLimitMemory = false;
constexpr rlim_t kProcessorSeconds = 120;
#else
constexpr bool kLimitMemory = true;
constexpr rlim_t kProcessorSeconds = 20;
#endif

// The exit status of `work` run in a child under the limits.
int runLimited(const std::function<void()>& work) {
  pid_t child = fork();
  if (child == 0) {
    rlimit cpu{kProcessorSeconds, kProcessorSeconds + 5};
    setrlimit(RLIMIT_CPU, &cpu);
    if (kLimitMemory) {
      rlimit memory{rlim_t(1) << 30, rlim_t(1) << 30};
      setrlimit(RLIMIT_AS, &memory);
    }
    try {
      work();
    } catch (...) {
      _exit(2);
    }
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

struct LargeText {
  const char* shape;
  std::function<std::string()> make;
  const char16_t* lastClass;
  LONG properties;  // of the last class, inherited ones included
};

TEST(MofScaleTest, LargeTextsReadInLinearTimeAndMemory) {
  const LargeText texts[] = {
      {"a chain of 20,000 derived classes",
       [] {
         std::string text = "class C0 { [key] string Name; };\n";
         for (int i = 1; i <= 20000; ++i) {
           text += "class C" + std::to_string(i) + " : C" + std::to_string(i - 1) + " { uint32 P" +
                   std::to_string(i) + "; uint32 M" + std::to_string(i) + "(); };\n";
         }
         return text;
       },
       u"C20000", 20001},
      {"one class with 100,000 methods",
       [] {
         std::string text = "class Wide {\n";
         for (int i = 0; i < 100000; ++i) {
           text += "  uint32 M" + std::to_string(i) + "([in] uint32 A, [out] string B);\n";
         }
         return text + "};\n";
       },
       u"Wide", 0},
      {"one class with 100,000 properties and qualifiers",
       [] {
         std::string text = "[Q0";
         for (int i = 1; i < 20000; ++i) text += ", Q" + std::to_string(i);
         text += "] class Tall {\n";
         for (int i = 0; i < 100000; ++i) text += "  uint32 P" + std::to_string(i) + " = 1;\n";
         return text + "};\n";
       },
       u"Tall", 100000},
  };
  ASSERT_TRUE(reserveLowArena());
  for (const LargeText& t : texts) {
    std::string text = t.make();
    int status = runLimited([&] {
      MofDocument document = readMof(text, "large.mof", u"HOST", nullptr);
      if (document.classes.back()->name != t.lastClass) _exit(3);
      ComPtr<IWbemClassObject> object = makeClassObject(document.classes.back());
      Variant count;
      object->Get(u"__PROPERTY_COUNT", 0, count.get(), nullptr, nullptr);
      if (count.vt() != VT_I4 || count.get()->lVal != t.properties) _exit(4);
    });
    EXPECT_EQ(status, 0) << t.shape << " (152: processor time exceeded; 2: out of memory)";
  }
}

}  // namespace
}  // namespace velt::wmi::detail
