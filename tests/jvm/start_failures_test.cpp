// Start attempts that fail before or inside JNI_CreateJavaVM, against stand-in libraries: each
// fails with its trace and status and leaves the process as it was.
#include <jvm/JvmServices.h>
#include <owners/unique_handle.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <qelvor/qelvor.h>

#include "entry_point.h"
#include "failing_nothrow_new.h"
#include "path_rules.h"
#include "test_layout.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using velt::test::recordTexts;
using velt::test::TestLayout;

namespace {

const std::string startPath = std::getenv("PATH") ? std::getenv("PATH") : "";

class StartFailure : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("WINDIR");
    // No runtime and no sibling library anywhere on the search path.
    SetEnvironmentVariableA("PATH", "/nonexistent-velt");
    SetEnvironmentVariableA("JAVA_HOME", nullptr);
    SetEnvironmentVariableA("VELT_FAKE_JAVA_24", nullptr);
    layout.openLog();
    services = JvmServices::acquire();
    ASSERT_NE(services, nullptr);
  }
  void TearDown() override {
    if (services != nullptr) JvmServices::release();
  }

  // The records from the first start on.
  std::vector<std::string> startRecords() const {
    auto texts = recordTexts(layout.logLines());
    auto first = std::find(texts.begin(), texts.end(), "JvmServices::startJvm");
    return std::vector<std::string>(first, texts.end());
  }
  std::string candidate(const char* name) const {
    return (layout.root() / "jre/lib" / name).string();
  }
  std::string ucTemp() const { return "ucTemp = " + layout.executable().string(); }
  // The start record the refusing stand-in runtime at `runtimeFile` kept.
  static std::string recordedStart(const std::string& runtimeFile) {
    velt::UniqueModule runtime(LoadLibraryA(runtimeFile.c_str()));
    auto recorded = velt::jvm::entryPointAs<const char* (*)()>(
        GetProcAddress(runtime.get(), "fakeRuntimeRecordedStart"));
    return recorded != nullptr ? recorded() : "<not the refusing stand-in>";
  }

  TestLayout layout;
  JvmServices* services = nullptr;
};

// Without the sibling library, or with one that lacks its export, the start ends there.
TEST_F(StartFailure, SiblingLibraryMissingOrWithoutItsExport) {
  EXPECT_EQ(services->startJvm(), 0);
  layout.link(VELT_TEST_EMPTY_LIBRARY, "ab/libqelvor.so");
  EXPECT_EQ(services->startJvm(), 0);
  EXPECT_THAT(
      startRecords(),
      ElementsAre("JvmServices::startJvm", "Loading ..\\qelvor.dll", "Loading ..\\qelvor",
                  "Could not load library qelvor.dll", "Unable to load qelvor.dll, returning.",
                  "JvmServices::startJvm", "Loading ..\\qelvor.dll", "Loading ..\\qelvor",
                  "Could not find QELVOR_SetThreadWbemContext in qelvor.dll",
                  "Unable to load qelvor.dll, returning."));
}

TEST_F(StartFailure, NoRuntimeAnywhere) {
  // The parent of the program's directory comes before the directory itself.
  layout.link(VELT_TEST_SIBLING_LIBRARY, "libqelvor.so");
  layout.link(VELT_TEST_EMPTY_LIBRARY, "ab/libqelvor.so");
  SetEnvironmentVariableA("JAVA_HOME", (layout.root() / "nojava").string().c_str());
  EXPECT_EQ(services->startJvm(), 0);
  std::string javaHomeCandidate = (layout.root() / "nojava/lib/server/libjvm.so").string();
  std::string failure = "The Java runtime was not found. Tried: " + candidate("server/libjvm.so") +
                        "; server/libjvm.so through the library search (PATH); " +
                        candidate("libjvm.so") + "; libjvm.so through the library search (PATH); " +
                        javaHomeCandidate +
                        " (JAVA_HOME); put the folder holding libjvm.so on PATH, or set "
                        "JAVA_HOME to the Java installation.";
  EXPECT_THAT(startRecords(), ElementsAre("JvmServices::startJvm", "Loading ..\\qelvor.dll",
                                          ucTemp(), candidate("server/libjvm.so"),
                                          "Attempting in the case where Tarvo isn't installed.",
                                          ucTemp(), candidate("libjvm.so"),
                                          "Attempting in the case where Tarvo isn't installed.",
                                          javaHomeCandidate, failure));
  EXPECT_EQ(services->runtimeSearchFailure(), failure);
}

// Where nothing beside the installation or on PATH is a runtime, JAVA_HOME's is used; a
// runtime that knows Java 24 is told that the SDK's code may load native libraries.
TEST_F(StartFailure, RuntimeUnderJavaHomeIsTriedLast) {
  layout.link(VELT_TEST_SIBLING_LIBRARY, "ab/libqelvor.so");
  layout.link(VELT_TEST_FAKE_RUNTIME_REFUSING, "java/lib/server/libjvm.so");
  SetEnvironmentVariableA("JAVA_HOME", (layout.root() / "java/").string().c_str());
  SetEnvironmentVariableA("VELT_FAKE_JAVA_24", "1");
  std::string runtimeFile = (layout.root() / "java/lib/server/libjvm.so").string();

  EXPECT_EQ(services->startJvm(), 0);

  EXPECT_THAT(
      startRecords(),
      ElementsAre("JvmServices::startJvm", "Loading ..\\qelvor.dll", "Loading ..\\qelvor", ucTemp(),
                  candidate("server/libjvm.so"),
                  "Attempting in the case where Tarvo isn't installed.", ucTemp(),
                  candidate("libjvm.so"), "Attempting in the case where Tarvo isn't installed.",
                  runtimeFile, "Found jvm.dll and loaded it.", "fake runtime says hello 42",
                  "Unable to create JVM. Exiting"));
  EXPECT_EQ(services->runtimeSearchFailure(), "");
  EXPECT_THAT(recordedStart(runtimeFile),
              ::testing::EndsWith("/hs_err_pid%p.log\n--enable-native-access=ALL-UNNAMED\n"));
  // Without a jar beside the program the class path is its directory alone.
  EXPECT_THAT(recordedStart(runtimeFile),
              ::testing::HasSubstr("\n-Djava.class.path=" + layout.programDirectory().string() +
                                   ":/fake/default/classes\n"));
}

TEST_F(StartFailure, RuntimeWithoutTheEntryPointsIsKept) {
  layout.link(VELT_TEST_SIBLING_LIBRARY, "ab/libqelvor.so");
  layout.link(VELT_TEST_EMPTY_LIBRARY, "jre/lib/server/libjvm.so");
  layout.link(VELT_TEST_FAKE_RUNTIME_REFUSING, "jre/lib/libjvm.so");
  EXPECT_EQ(services->startJvm(), 0);
  // The first library that loads stays the runtime: the second candidate is never tried.
  std::string failure = "The Java runtime " + candidate("server/libjvm.so") +
                        " has no JNI_GetDefaultJavaVMInitArgs: it is not a Java VM library.";
  EXPECT_THAT(
      startRecords(),
      ElementsAre("JvmServices::startJvm", "Loading ..\\qelvor.dll", "Loading ..\\qelvor", ucTemp(),
                  candidate("server/libjvm.so"), "Found jvm.dll and loaded it.", failure));
  EXPECT_EQ(services->runtimeSearchFailure(), failure);
}

TEST_F(StartFailure, RuntimeWithoutCreateJavaVM) {
  layout.link(VELT_TEST_SIBLING_LIBRARY, "ab/libqelvor.so");
  layout.link(VELT_TEST_FAKE_RUNTIME_DEFAULTS_ONLY, "jre/lib/server/libjvm.so");
  EXPECT_EQ(services->startJvm(), 0);
  EXPECT_THAT(startRecords(),
              ElementsAre("JvmServices::startJvm", "Loading ..\\qelvor.dll", "Loading ..\\qelvor",
                          ucTemp(), candidate("server/libjvm.so"), "Found jvm.dll and loaded it."));
}

// The fixed eight options (an installation record names the home and the temporary folder),
// then the sibling file Java binds and the crash report's place.
TEST_F(StartFailure, RefusedStartGetsItsOptionsAndCanBeTriedAgain) {
  layout.link(VELT_TEST_SIBLING_LIBRARY, "ab/libqelvor.so");
  layout.link(VELT_TEST_FAKE_RUNTIME_REFUSING, "jre/lib/server/libjvm.so");
  layout.touch("ab/a.jar");
  velt::test::writeInstallRecord("/opt/prog/q/", "4.1");
  std::string directory = layout.programDirectory().string();

  EXPECT_EQ(services->startJvm(), 0);
  EXPECT_EQ(services->startJvm(), 0);

  EXPECT_THAT(startRecords(),
              ElementsAre("JvmServices::startJvm", "Loading ..\\qelvor.dll", "Loading ..\\qelvor",
                          ucTemp(), candidate("server/libjvm.so"), "Found jvm.dll and loaded it.",
                          "The File found is a.jar", "fake runtime says hello 42",
                          "Unable to create JVM. Exiting", "JvmServices::startJvm",
                          "Loading ..\\qelvor.dll", "Loading ..\\qelvor", "The File found is a.jar",
                          "fake runtime says hello 42", "Unable to create JVM. Exiting"));

  const std::string& d = directory;
  EXPECT_EQ(recordedStart(candidate("server/libjvm.so")),
            "version=65538 ignoreUnrecognized=1\n-Djava.class.path=" + d + ":" + d +
                "/a.jar:/fake/default/classes\n-verbose:jni\nvfprintf\n-DWINDIR=/etc\n-DTEMPDIR=" +
                (layout.root() / "appdata/Norvex/TARVO/4.1").string() +
                "\n-DTARVO_HOME=/opt/prog/q/\n-DCWD=" + d + "/\n-Xrs\n-Dqelvor.library=" + d +
                "/libqelvor.so\n-XX:ErrorFile=" + d + "/hs_err_pid%p.log\n");

  // Both attempts extend the PATH the process started with, so the directory is there once.
  char path[4096] = {};
  GetEnvironmentVariableA("PATH", path, sizeof path);
  EXPECT_EQ(std::string(path), velt::jvm::extendedPath(startPath, directory));
}

TEST_F(StartFailure, UnstartedObjectRefusesThreadsAndClasses) {
  JNIEnv* env = nullptr;
  EXPECT_NE(services->attach(&env), JNI_OK);
  EXPECT_NE(services->attachWithContext(&env, nullptr), JNI_OK);
  EXPECT_NE(services->detach(), JNI_OK);
  EXPECT_EQ(services->loadClass("java.lang.Object"), nullptr);
}

TEST_F(StartFailure, LastReleaseUnloadsWhatTheFailedStartLoaded) {
  layout.link(VELT_TEST_SIBLING_LIBRARY, "ab/libqelvor.so");
  layout.link(VELT_TEST_FAKE_RUNTIME_REFUSING, "jre/lib/server/libjvm.so");
  EXPECT_EQ(services->startJvm(), 0);
  EXPECT_EQ(JvmServices::acquire(), services);

  JvmServices::release();
  EXPECT_THAT(recordTexts(layout.logLines()),
              ::testing::Not(::testing::Contains("Unloading qelvor.dll")));
  EXPECT_NE(GetModuleHandleA(candidate("server/libjvm.so").c_str()), nullptr);

  JvmServices::release();
  services = nullptr;
  EXPECT_EQ(recordTexts(layout.logLines()).back(), "Unloading qelvor.dll");
  // No VM was made, so nothing of the runtime can still run: it is unloaded too.
  EXPECT_EQ(GetModuleHandleA(candidate("server/libjvm.so").c_str()), nullptr);
  EXPECT_EQ(GetModuleHandleA((layout.programDirectory() / "libqelvor.so").c_str()), nullptr);
}

TEST_F(StartFailure, AVmRefusingAnAttachAnswersItsStatusAndIsAskedNothingMore) {
  layout.link(VELT_TEST_SIBLING_LIBRARY, "ab/libqelvor.so");
  layout.link(VELT_TEST_FAKE_RUNTIME_UNATTACHABLE, "jre/lib/server/libjvm.so");
  ASSERT_EQ(services->startJvm(), 1);
  HMODULE runtime = GetModuleHandleA(candidate("server/libjvm.so").c_str());
  auto calls = velt::jvm::entryPointAs<const char* (*)()>(
      GetProcAddress(runtime, "fakeRuntimeInvocationCalls"));
  HMODULE sibling = GetModuleHandleA((layout.programDirectory() / "libqelvor.so").c_str());
  auto readContext = velt::jvm::entryPointAs<QELVOR_GetThreadWbemContextFunction>(
      GetProcAddress(sibling, "QELVOR_GetThreadWbemContext"));
  ASSERT_NE(calls, nullptr);
  ASSERT_NE(readContext, nullptr);

  auto* context = reinterpret_cast<IWbemContext*>(std::uintptr_t{0x5eed});
  JNIEnv* env = nullptr;
  EXPECT_EQ(services->attachWithContext(&env, context), JNI_ERR);
  EXPECT_EQ(env, nullptr);
  // A refused thread is never detached: the context it was handed for the call is taken
  // back, so that nothing on the thread can reach it once the caller has released it.
  EXPECT_EQ(readContext(), nullptr);
  EXPECT_EQ(services->attach(&env), JNI_ERR);
  EXPECT_EQ(services->loadClass("java.lang.Object"), nullptr);
  // Neither a detach of a thread never attached nor anything else follows a refusal.
  EXPECT_STREQ(calls(), "AttachCurrentThread AttachCurrentThread AttachCurrentThread ");
}

// A services object that cannot be made leaves its user counted, so that the user's release
// keeps the count balanced: a later user's object lives until the last release.
TEST(ServicesAllocation, ANullServicesObjectStillCountsItsUser) {
  using velt::test::failNextNothrowAllocations;
  using velt::test::nothrowFailuresPending;
  failNextNothrowAllocations(1);
  EXPECT_EQ(JvmServices::acquire(), nullptr);
  JvmServices* made = JvmServices::acquire();
  ASSERT_NE(made, nullptr);

  JvmServices::release();  // one user of the two remains
  failNextNothrowAllocations(1);
  EXPECT_EQ(JvmServices::acquire(), made);
  EXPECT_EQ(nothrowFailuresPending(), 1) << "the object was made anew: it had been deleted";
  failNextNothrowAllocations(0);

  JvmServices::release();
  JvmServices::release();  // the last user: the object goes
  failNextNothrowAllocations(1);
  EXPECT_EQ(JvmServices::acquire(), nullptr);
  failNextNothrowAllocations(0);
  JvmServices::release();
}

}  // namespace
