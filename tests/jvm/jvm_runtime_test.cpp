// The real Java runtime, found beside an installation or through PATH, started once per test
// process (each test runs in a process of its own).
#include <jvm/JvmServices.h>
#include <jvm/reportJavaException.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <iostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <qelvor/qelvor.h>

#include "entry_point.h"
#include "test_layout.h"

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using velt::test::containsInOrder;
using velt::test::recordTexts;
using velt::test::TestLayout;

namespace {

const std::string jarName = "velt_jvm_test_classes.jar";

IWbemContext* contextNumber(uintptr_t n) { return reinterpret_cast<IWbemContext*>(n); }

QELVOR_GetThreadWbemContextFunction readContext = nullptr;
QELVOR_SetThreadWbemContextFunction setContext = nullptr;

jlong JNICALL currentContext(JNIEnv*, jclass) {
  return static_cast<jlong>(reinterpret_cast<uintptr_t>(readContext()));
}

class RealRuntime : public ::testing::Test {
 protected:
  explicit RealRuntime(std::string programFolder = "ab")
      : folder(std::move(programFolder)), layout(folder) {}

  void SetUp() override {
    layout.link(VELT_TEST_SIBLING_LIBRARY, folder + "/libqelvor.so");
    layout.link(VELT_TEST_CLASSES_JAR, folder + "/" + jarName);
    SetEnvironmentVariableA("PATH", "/nonexistent-velt");
    layout.openLog();
    velt::test::removeInstallRecord();
    services = JvmServices::acquire();
    ASSERT_NE(services, nullptr);
  }

  void TearDown() override {
    if (services != nullptr) JvmServices::release();
    // The VM's own messages, -Xcheck:jni's warnings among them, went to the log: show them,
    // so that the test's output is checked as well.
    std::cout << "---- trace log ----\n";
    for (const auto& line : layout.logLines()) std::cout << line << "\n";
    for (const auto& text : recordTexts(layout.logLines())) {
      EXPECT_THAT(text, ::testing::Not(HasSubstr("WARNING"))) << "the VM reported a JNI fault";
    }
  }

  void startBesideInstallation() {
    layout.link(VELT_TEST_LIBJVM, "jre/lib/server/libjvm.so");
    ASSERT_EQ(services->startJvm(), 1);
  }

  std::vector<std::string> records() const { return recordTexts(layout.logLines()); }

  std::string property(const char* name) {
    JNIEnv* env = nullptr;
    EXPECT_EQ(services->attach(&env), JNI_OK);
    jclass probe = env->FindClass("com/norvex/test/Probe");
    EXPECT_FALSE(env->ExceptionCheck());
    jmethodID get =
        env->GetStaticMethodID(probe, "property", "(Ljava/lang/String;)Ljava/lang/String;");
    jstring key = env->NewStringUTF(name);
    auto value = static_cast<jstring>(env->CallStaticObjectMethod(probe, get, key));
    EXPECT_FALSE(env->ExceptionCheck());
    std::string text = "<null>";
    if (value != nullptr) {
      const char* characters = env->GetStringUTFChars(value, nullptr);
      text = characters;
      env->ReleaseStringUTFChars(value, characters);
    }
    services->detach();
    return text;
  }

  // Calls a static method of Thrower and reports the exception it leaves, as every caller does.
  void reportFrom(const char* method, const char* signature, const char* argument = nullptr) {
    JNIEnv* env = nullptr;
    ASSERT_EQ(services->attach(&env), JNI_OK);
    jclass thrower = env->FindClass("com/norvex/test/Thrower");
    ASSERT_NE(thrower, nullptr);
    jmethodID throwing = env->GetStaticMethodID(thrower, method, signature);
    ASSERT_NE(throwing, nullptr);
    if (argument != nullptr) {
      env->CallStaticVoidMethod(thrower, throwing, env->NewStringUTF(argument));
    } else {
      env->CallStaticVoidMethod(thrower, throwing);
    }
    jthrowable thrown = env->ExceptionOccurred();
    ASSERT_NE(thrown, nullptr);
    env->ExceptionClear();
    reportJavaException(thrown, env);
    services->detach();
  }

  void registerContextReader() {
    HMODULE sibling = LoadLibraryA((layout.programDirectory() / "libqelvor.so").c_str());
    readContext = velt::jvm::entryPointAs<QELVOR_GetThreadWbemContextFunction>(
        GetProcAddress(sibling, "QELVOR_GetThreadWbemContext"));
    setContext = velt::jvm::entryPointAs<QELVOR_SetThreadWbemContextFunction>(
        GetProcAddress(sibling, "QELVOR_SetThreadWbemContext"));
    ASSERT_NE(readContext, nullptr);
    ASSERT_NE(setContext, nullptr);
    probeClass = services->loadClass("com.norvex.test.Probe");
    ASSERT_NE(probeClass, nullptr);
    JNIEnv* env = nullptr;
    ASSERT_EQ(services->attach(&env), JNI_OK);
    JNINativeMethod native = {const_cast<char*>("currentContext"), const_cast<char*>("()J"),
                              reinterpret_cast<void*>(&currentContext)};
    ASSERT_EQ(env->RegisterNatives(probeClass, &native, 1), JNI_OK);
    services->detach();
  }

  // The context Java sees on an attached thread.
  static uintptr_t contextSeenByJava(JNIEnv* env, jclass probe) {
    jmethodID read = env->GetStaticMethodID(probe, "currentContext", "()J");
    jlong value = env->CallStaticLongMethod(probe, read);
    if (env->ExceptionCheck()) return UINTPTR_MAX;
    return static_cast<uintptr_t>(value);
  }

  std::string folder;
  TestLayout layout;
  JvmServices* services = nullptr;
  jclass probeClass = nullptr;
};

// Deeper than the 260 characters of a Windows path, as Linux installations often are.
class DeepInstallation : public RealRuntime {
 protected:
  DeepInstallation() : RealRuntime(std::string(120, 'd') + "/" + std::string(120, 'e') + "/ab") {}
};

// The search's records, the class path and PATH are the start failures' tests' (the same
// start with a stand-in runtime); here what the real VM makes of them.
TEST_F(DeepInstallation, FindsTheRuntimeThroughPathAndTraces) {
  ASSERT_GT(layout.executable().string().size(), 260u);
  SetEnvironmentVariableA("PATH", VELT_TEST_JDK_LIB);
  ASSERT_EQ(services->startJvm(), 1);
  EXPECT_EQ(layout.logLines().front(), layout.executable().string());
  EXPECT_TRUE(containsInOrder(
      records(),
      {"ucTemp = " + layout.executable().string(),
       (layout.programDirectory().parent_path() / "jre/lib/server/libjvm.so").string(),
       "Attempting in the case where Tarvo isn't installed.", "Found jvm.dll and loaded it."}));
  EXPECT_EQ(property("CWD"), layout.programDirectory().string() + "/");
  // Without the record the home definition is "-D" alone, which defines nothing.
  EXPECT_EQ(property("TARVO_HOME"), "<null>");
  EXPECT_EQ(property("TEMPDIR"), (layout.root() / "appdata").string());
  EXPECT_THAT(property("WINDIR"), ::testing::Not(""));
  // -verbose:jni reports the natives the VM links, through the console hook.
  EXPECT_THAT(records(), Contains(HasSubstr("Dynamic-linking native method")));
}

TEST_F(RealRuntime, StartedAgainOrAcquiredAnewUsesTheRunningVm) {
  startBesideInstallation();
  size_t before = records().size();
  EXPECT_EQ(services->startJvm(), 1);
  auto texts = records();
  EXPECT_THAT(std::vector<std::string>(texts.begin() + before, texts.end()),
              ElementsAre("JvmServices::startJvm",
                          "JVM already started, returning to CProxyProvider::Initialize()..."));

  EXPECT_EQ(JvmServices::acquire(), services);
  JvmServices::release();
  EXPECT_THAT(records(), ::testing::Not(Contains("Unloading qelvor.dll")));
  JvmServices::release();
  EXPECT_EQ(records().back(), "Unloading qelvor.dll");

  // The VM outlives the object, so its runtime stays loaded and a new object takes it up.
  EXPECT_NE(GetModuleHandleA((layout.root() / "jre/lib/server/libjvm.so").c_str()), nullptr);
  services = JvmServices::acquire();
  ASSERT_NE(services, nullptr);
  before = records().size();
  EXPECT_EQ(services->startJvm(), 1);
  texts = records();
  EXPECT_THAT(std::vector<std::string>(texts.begin() + before, texts.end()),
              ElementsAre("JvmServices::startJvm", "Loading ..\\qelvor.dll", "Loading ..\\qelvor",
                          "JVM already started, returning to CProxyProvider::Initialize()..."));
  EXPECT_NE(services->loadClass("com.norvex.test.Probe"), nullptr);
}

TEST_F(RealRuntime, MissingClassIsReportedByItsMessage) {
  startBesideInstallation();
  EXPECT_EQ(services->loadClass("com.norvex.missing.Nothing"), nullptr);
  EXPECT_TRUE(containsInOrder(records(), {"Loading com.norvex.sysmgt.proxy.Glue failed.",
                                          "A JNI Exception occurred: com/norvex/missing/Nothing"}));
  // The thread was left clean: it can load a class right away.
  EXPECT_NE(services->loadClass("com.norvex.test.Thrower"), nullptr);
}

TEST_F(RealRuntime, ExceptionMessagesAreReportedAsTheyStandOrCut) {
  startBesideInstallation();
  const std::string prefix = "A JNI Exception occurred: ";

  reportFrom("withoutMessage", "()V");
  reportFrom("withUnreadableMessage", "()V");
  reportFrom("withMessage", "(Ljava/lang/String;)V", std::string(300, 'm').c_str());
  // 228 bytes fit before the two-byte character that would cross the buffer's end.
  std::string boundary = std::string(228, 'b') + "\xc3\xa9" + "tail";
  reportFrom("withMessage", "(Ljava/lang/String;)V", boundary.c_str());
  reportFrom("withNonAsciiMessage", "()V");

  EXPECT_TRUE(containsInOrder(
      records(),
      {"The exception is not displaying a message", "The exception is not displaying a message",
       prefix + std::string(229, 'm'), prefix + std::string(228, 'b'),
       // Modified UTF-8: the supplementary character as two surrogates, the zero as C0 80.
       prefix + "Gr\xc3\xbc\xc3\x9f"
                "e \xe2\x82\xac \xed\xa0\xb4\xed\xb4\x9e a\xc0\x80"
                "b"}));
}

TEST_F(RealRuntime, ThreadsSeeTheirOwnContextOnlyWhileAttached) {
  startBesideInstallation();
  registerContextReader();

  std::atomic<int> faults = 0;
  std::vector<std::thread> threads;
  for (uintptr_t t = 1; t <= 4; ++t) {
    threads.emplace_back([&, t] {
      for (uintptr_t round = 0; round < 25; ++round) {
        // Every other attach is handed no context, and Java sees none.
        uintptr_t context = round % 2 == 0 ? 0 : t * 1000 + round;
        JNIEnv* env = nullptr;
        if (services->attachWithContext(&env, contextNumber(context)) != JNI_OK) ++faults;
        if (contextSeenByJava(env, probeClass) != context) ++faults;
        services->detach();
        if (readContext() != nullptr) ++faults;

        // A plain attach brings no context along, but Java sees one the thread set itself, and
        // the detach clears that too.
        if (services->attach(&env) != JNI_OK) ++faults;
        if (contextSeenByJava(env, probeClass) != 0) ++faults;
        services->detach();
        setContext(contextNumber(t * 1000 + round));
        if (services->attach(&env) != JNI_OK) ++faults;
        if (contextSeenByJava(env, probeClass) != t * 1000 + round) ++faults;
        services->detach();
        if (readContext() != nullptr) ++faults;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(faults.load(), 0);
}

}  // namespace
