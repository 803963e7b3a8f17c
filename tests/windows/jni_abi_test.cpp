#include <gtest/gtest.h>
#include <jni.h>
#include <windows.h>

#include <owners/unique_handle.h>

#include <cstring>
#include <type_traits>

// The JNI types of the Windows ABI, as a VM built for Windows expects them.
static_assert(std::is_same_v<jint, long> && sizeof(jint) == 4);
static_assert(sizeof(jlong) == 8 && sizeof(jbyte) == 1 && std::is_signed_v<jbyte>);

namespace {
JNIEnv* g_seenEnv;
jint g_seenSink;
jint g_seenObject;
}  // namespace

// Stands in for the provider's native: what matters here is its convention and its exports.
extern "C" JNIEXPORT void JNICALL Java_com_norvex_sysmgt_proxy_Glue_CheckForEvents(JNIEnv* env,
                                                                                   jobject,
                                                                                   jint sink,
                                                                                   jint object) {
  g_seenEnv = env;
  g_seenSink = sink;
  g_seenObject = object;
}

namespace {
using NativeEntry = void(JNICALL*)(JNIEnv*, jobject, jint, jint);

NativeEntry exportedEntry(const char* name) {
  FARPROC address = GetProcAddress(GetModuleHandleA(nullptr), name);
  NativeEntry entry = nullptr;
  static_assert(sizeof entry == sizeof address);
  std::memcpy(&entry, &address, sizeof entry);
  return entry;
}
}  // namespace

TEST(CheckForEventsExportTest, DecoratedNameLeadsToTheNative) {
  NativeEntry entry = exportedEntry(
      "?Java_com_norvex_sysmgt_proxy_Glue_CheckForEvents@@YGXPAUJNIEnv_@@PAV_jobject@@JJ@Z");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry, &Java_com_norvex_sysmgt_proxy_Glue_CheckForEvents);

  // A call through the exported address with the JNI convention must see its arguments in
  // order and leave the stack as it found it.
  JNIEnv* env = reinterpret_cast<JNIEnv*>(0x1000);
  entry(env, nullptr, -2, 0x7654321);
  EXPECT_EQ(g_seenEnv, env);
  EXPECT_EQ(g_seenSink, -2);
  EXPECT_EQ(g_seenObject, 0x7654321);
}

TEST(CheckForEventsExportTest, PlainJniNameLeadsToTheNative) {
  EXPECT_EQ(exportedEntry("Java_com_norvex_sysmgt_proxy_Glue_CheckForEvents"),
            &Java_com_norvex_sysmgt_proxy_Glue_CheckForEvents);
}

#ifdef VELT_TEST_SIBLING_NATIVES
TEST(SiblingNativesExportTest, VmFindsThemByTheirPlainJniNames) {
  velt::UniqueModule library(LoadLibraryA("qelvor.dll"));
  ASSERT_TRUE(library);
  EXPECT_NE(
      GetProcAddress(library.get(), "Java_com_norvex_sysmgt_cim_wmi_wbem_WbemClassObject_nAddRef"),
      nullptr);
  EXPECT_NE(GetProcAddress(library.get(),
                           "Java_com_norvex_sysmgt_cim_wmi_wbem_WbemClassObject_nPutString"),
            nullptr);
}
#endif
