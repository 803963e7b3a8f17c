// Java must bind its natives to the very sibling library file the server loaded, wherever the
// server found it: a second copy keeps thread contexts of its own, which the server never sets.
// Each layout holds real copies (not links), so two places are two different files.
#include <javapointer/java_pointer.h>
#include <jvm/JvmServices.h>
#include <wmi_model/low_arena.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "counting_namespace.h"
#include "test_layout.h"
#include "wbem_provider_base.h"

using ::testing::HasSubstr;

namespace {

// Records the context each GetObject arrives with; never dereferences it.
class ContextRecordingServices : public velt::test::WbemProviderBase {
 public:
  STDMETHODIMP GetObject(const BSTR, LONG, IWbemContext* context, IWbemClassObject**,
                         IWbemCallResult**) override {
    seen = context;
    return WBEM_E_NOT_FOUND;
  }
  IWbemContext* seen = nullptr;
};

struct Layout {
  const char* name;
  std::vector<std::string> copies;  // relative to the root; the program is <root>/ab/server
};
void PrintTo(const Layout& layout, std::ostream* out) { *out << layout.name; }

class SiblingLayout : public ::testing::TestWithParam<Layout> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(velt::wmi::reserveLowArena());
    for (const auto& copy : GetParam().copies) {
      std::filesystem::create_directories((layout.root() / copy).parent_path());
      std::filesystem::copy_file(VELT_TEST_SIBLING_LIBRARY, layout.root() / copy);
    }
    for (const char* file : {VELT_TEST_SDK_JAR, VELT_TEST_PROVIDERS_JAR}) {
      layout.link(file, "ab" / std::filesystem::path(file).filename());
    }
    SetEnvironmentVariableA("PATH", VELT_TEST_JDK_LIB);
    velt::test::removeInstallRecord();
    layout.openLog();
    services = JvmServices::acquire();
    ASSERT_NE(services, nullptr);
    ASSERT_EQ(services->startJvm(), 1);
  }

  void TearDown() override {
    if (services != nullptr) JvmServices::release();
    for (const auto& line : velt::test::recordTexts(layout.logLines())) {
      EXPECT_THAT(line, ::testing::Not(HasSubstr("WARNING"))) << "the VM reported a JNI fault";
    }
  }

  velt::test::TestLayout layout;
  JvmServices* services = nullptr;
};

TEST_P(SiblingLayout, JavaSeesTheContextTheServerSet) {
  // Pointers cross to Java as 32 bits: the namespace Java is handed passes its look-ups on from
  // low memory.
  ContextRecordingServices recorder;
  velt::test::CountingNamespace* ns = velt::test::CountingNamespace::create(&recorder);
  auto* context = reinterpret_cast<IWbemContext*>(uintptr_t{0x5eed});

  JNIEnv* env = nullptr;
  ASSERT_EQ(services->attachWithContext(&env, context), JNI_OK);
  jclass natives = env->FindClass("com/norvex/test/providers/Natives");
  ASSERT_NE(natives, nullptr);
  jmethodID spawnAndClose =
      env->GetStaticMethodID(natives, "spawnAndClose", "(JLjava/lang/String;)Ljava/lang/String;");
  ASSERT_NE(spawnAndClose, nullptr);
  jobject message = env->CallStaticObjectMethod(natives, spawnAndClose, *pointerToJava(ns),
                                                env->NewStringUTF("Velt_Anything"));
  bool bound = !env->ExceptionCheck();  // an unbound native throws UnsatisfiedLinkError
  env->ExceptionClear();
  services->detach();

  EXPECT_TRUE(bound) << "Java could not bind its natives";
  EXPECT_NE(message, nullptr);
  EXPECT_EQ(recorder.seen, context);
  ns->Release();
}

INSTANTIATE_TEST_SUITE_P(
    Places, SiblingLayout,
    ::testing::Values(Layout{"BesideTheProgram", {"ab/libqelvor.so"}},
                      Layout{"InTheParentFolder", {"libqelvor.so"}},
                      Layout{"InBothPlaces", {"libqelvor.so", "ab/libqelvor.so"}}),
    [](const ::testing::TestParamInfo<Layout>& info) { return std::string(info.param.name); });

}  // namespace
