// The Java side against the WMI stand-in in a real VM: WbemClassObject's natives, the Glue's
// dispatch to a provider found by ServiceLoader, and events while a sink is held. Each test runs
// in a process of its own, so each starts its own VM.
#include <javapointer/java_pointer.h>
#include <jvm/JvmServices.h>
#include <owners/owned_variant.h>
#include <owners/utf_text.h>
#include <wmi/service.h>
#include <wmi_model/low_arena.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "counting_namespace.h"
#include "test_layout.h"
#include "wmi_test_support.h"

using ::testing::HasSubstr;
using velt::test::TestLayout;
using namespace velt::wmi::test;

namespace {

const char* const kMof = R"MOF(
#pragma namespace("\\\\.\\root\\velt")
class Velt_Disk {
  [key] string Name; string Label; sint32 Count; uint64 Size; boolean Online; real64 Ratio;
  string Tags[]; sint32 Slots[];
  uint32 Grow([in] sint32 By, [out] uint64 NewSize);
};
class Velt_DiskEvent { string Disk; };
class Velt_Types {
  [key] string Id;
  sint8 S8; uint8 U8; sint16 S16; uint16 U16; sint32 S32; uint32 U32; sint64 S64; uint64 U64;
  uint64 Huge; real32 R32; real64 R64; boolean B; char16 C; string Text; datetime When;
  datetime Span; uint32 Nothing;
  sint8 S8s[]; uint8 U8s[]; sint16 S16s[]; uint16 U16s[]; sint32 S32s[]; uint32 U32s[];
  sint64 S64s[]; uint64 U64s[]; real32 R32s[]; real64 R64s[]; boolean Bs[]; char16 Cs[];
  string Texts[]; datetime Whens[];
  datetime Spans[]; object Part; object Parts[];
};
class Velt_Part { string Label; uint64 Size; datetime Seen; object Inner; };
)MOF";

// A namespace of its own that registers none of the test providers' classes.
const char* const kOtherMof = R"MOF(
#pragma namespace("\\\\.\\root\\other")
class Other_Thing { [key] string Id; };
)MOF";

const char* const kDiskProvider = "com/norvex/test/providers/DiskProvider";
const char* const kNatives = "com/norvex/test/providers/Natives";

jlong toJava(const void* pointer) { return pointerToJava(pointer).value(); }

// The object a property holds as WMI keeps one: a VT_UNKNOWN answering for IWbemClassObject.
IWbemClassObject* embedded(IWbemClassObject* holder, const char16_t* name) {
  velt::OwnedVariant value;
  IWbemClassObject* object = nullptr;
  EXPECT_EQ(holder->Get(name, 0, value.get(), nullptr, nullptr), S_OK);
  EXPECT_EQ(value.vt(), VT_UNKNOWN);
  if (value.vt() == VT_UNKNOWN) {
    value.value().punkVal->QueryInterface(IID_IWbemClassObject, reinterpret_cast<void**>(&object));
  }
  return object;
}

ULONG referenceCount(IUnknown* object) {
  object->AddRef();
  return object->Release();
}

std::u16string text(JNIEnv* env, jstring value) {
  if (value == nullptr) return u"<null>";
  const jchar* units = env->GetStringChars(value, nullptr);
  std::u16string result(reinterpret_cast<const char16_t*>(units),
                        static_cast<size_t>(env->GetStringLength(value)));
  env->ReleaseStringChars(value, units);
  return result;
}

// What CheckForEvents received, delivered to the sink as the provider does.
std::vector<std::pair<jint, jint>> firedEvents;
void JNICALL checkForEvents(JNIEnv*, jobject, jint sink, jint object) {
  firedEvents.emplace_back(sink, object);
  if (object == 0) return;
  auto* event = pointerFromJava<IWbemClassObject>(object);
  pointerFromJava<IWbemObjectSink>(sink)->Indicate(1, &event);
}

class JavaSide : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(velt::wmi::reserveLowArena());
    for (const char* file : {VELT_TEST_SIBLING_LIBRARY, VELT_TEST_SDK_JAR, VELT_TEST_GLUE_JAR,
                             VELT_TEST_PROVIDERS_JAR}) {
      layout.link(file, "ab" / std::filesystem::path(file).filename());
    }
    SetEnvironmentVariableA("PATH", VELT_TEST_JDK_LIB);
    velt::test::removeInstallRecord();
    layout.openLog();
    services = JvmServices::acquire();
    ASSERT_NE(services, nullptr);
    ASSERT_EQ(services->startJvm(), 1);
    service.loadMofText(kMof, "velt.mof");
    service.loadMofText(kOtherMof, "other.mof");
    ASSERT_EQ(service.openNamespace(u"root\\velt", &ns), S_OK);
    ASSERT_EQ(service.openNamespace(u"root\\other", &other), S_OK);
    liveAtStart = velt::wmi::liveObjectCount();
    ASSERT_EQ(services->attach(&env), JNI_OK);
    env->EnsureLocalCapacity(512);
  }

  void TearDown() override {
    if (env != nullptr) services->detach();
    if (ns != nullptr) ns->Release();
    if (other != nullptr) other->Release();
    service.shutdown();
    if (services != nullptr) JvmServices::release();
    for (const auto& line : velt::test::recordTexts(layout.logLines())) {
      EXPECT_THAT(line, ::testing::Not(HasSubstr("WARNING"))) << "the VM reported a JNI fault";
    }
  }

  IWbemClassObject* spawn(IWbemClassObject* cls) {
    IWbemClassObject* instance = nullptr;
    EXPECT_EQ(cls->SpawnInstance(0, &instance), S_OK);
    cls->Release();
    return instance;
  }

  jclass findClass(const char* name) {
    jclass found = env->FindClass(name);
    EXPECT_FALSE(env->ExceptionCheck()) << name;
    env->ExceptionClear();
    return found;
  }

  // The message of the pending exception, cleared; "" when none is pending.
  std::string takeException() {
    jthrowable thrown = env->ExceptionOccurred();
    if (thrown == nullptr) return "";
    env->ExceptionClear();
    jmethodID getMessage = env->GetMethodID(env->FindClass("java/lang/Throwable"), "getMessage",
                                            "()Ljava/lang/String;");
    auto message = static_cast<jstring>(env->CallObjectMethod(thrown, getMessage));
    if (env->ExceptionCheck()) {
      env->ExceptionClear();
      return "<getMessage failed>";
    }
    return velt::utf8FromUtf16(text(env, message));
  }

  // The text a static String method of the test's Natives class (or another) answers.
  template <typename... Args>
  std::u16string nativesText(const char* name, const char* signature, Args... args) {
    return staticText(kNatives, name, signature, args...);
  }
  template <typename... Args>
  std::u16string staticText(const char* className, const char* name, const char* signature,
                            Args... args) {
    jclass natives = findClass(className);
    auto result = static_cast<jstring>(env->CallStaticObjectMethod(
        natives, env->GetStaticMethodID(natives, name, signature), args...));
    EXPECT_EQ(takeException(), "") << name;
    return text(env, result);
  }

  // Calls a static void method of the test's Natives class; false when it threw.
  template <typename... Args>
  bool callNatives(const char* name, const char* signature, Args... args) {
    jclass natives = findClass(kNatives);
    env->CallStaticVoidMethod(natives, env->GetStaticMethodID(natives, name, signature), args...);
    return takeException().empty();
  }

  // Stores `sent` through the provider, drops the caller's and the kept reference, and answers
  // what the provider gives back for `path` (one reference).
  IWbemClassObject* throughProvider(jobject glue, IWbemClassObject* sent, const char* path) {
    setInstance(glue, "Velt_Types", sent);
    sent->Release();
    sent->Release();
    auto* returned = pointerFromJava<IWbemClassObject>(getInstance(glue, path));
    EXPECT_EQ(takeException(), "");
    EXPECT_NE(returned, nullptr);
    return returned;
  }

  jobject newGlue(IWbemServices* where = nullptr, const char* name = "root\\velt") {
    jclass glueClass = findClass("com/norvex/sysmgt/proxy/Glue");
    jmethodID make = env->GetMethodID(glueClass, "<init>", "(JLjava/lang/String;)V");
    jobject glue = env->NewObject(glueClass, make, toJava(where != nullptr ? where : ns),
                                  env->NewStringUTF(name));
    EXPECT_EQ(takeException(), "");
    return glue;
  }

  jint getInstance(jobject glue, const char* path) {
    jmethodID method =
        env->GetMethodID(env->GetObjectClass(glue), "getInstance", "(Ljava/lang/String;)I");
    return env->CallIntMethod(glue, method, env->NewStringUTF(path));
  }

  void setEventSink(jobject glue, IWbemObjectSink* sink) {
    jmethodID method = env->GetMethodID(env->GetObjectClass(glue), "setEventSink", "(J)V");
    env->CallVoidMethod(glue, method, toJava(sink));
    EXPECT_EQ(takeException(), "");
  }

  // Stores a disk through the Glue's setInstance, which keeps one reference for the server's
  // release after the call; both go.
  void putDisk(jobject glue, const char16_t* name, LONG size) {
    IWbemClassObject* disk = spawn(classOf(ns, u"Velt_Disk"));
    putText(disk, u"Name", name);
    putInt(disk, u"Size", size);
    setInstance(glue, "Velt_Disk", disk);
    EXPECT_EQ(referenceCount(disk), 2u);
    disk->Release();
    disk->Release();
  }

  void setInstance(jobject glue, const char* className, IWbemClassObject* object) {
    jmethodID method =
        env->GetMethodID(env->GetObjectClass(glue), "setInstance", "(Ljava/lang/String;J)V");
    env->CallVoidMethod(glue, method, env->NewStringUTF(className), toJava(object));
    EXPECT_EQ(takeException(), "");
  }

  // What the Glue's enumInstances hands over, one reference each; empty with the failure's
  // message in `failure` when it threw.
  std::vector<IWbemClassObject*> enumerate(jobject glue, const char* className,
                                           std::string* failure = nullptr) {
    jmethodID method =
        env->GetMethodID(env->GetObjectClass(glue), "enumInstances",
                         "(Ljava/lang/String;ZLjava/lang/String;)Ljava/util/Vector;");
    jobject vector = env->CallObjectMethod(glue, method, env->NewStringUTF(className), JNI_FALSE,
                                           env->NewStringUTF(className));
    std::string thrown = takeException();
    if (failure != nullptr) *failure = thrown;
    std::vector<IWbemClassObject*> result;
    if (!thrown.empty() || vector == nullptr) return result;
    jclass vectorClass = env->FindClass("java/util/Vector");
    jmethodID elementAt = env->GetMethodID(vectorClass, "elementAt", "(I)Ljava/lang/Object;");
    jmethodID intValue = env->GetMethodID(env->FindClass("java/lang/Integer"), "intValue", "()I");
    const jint size = env->CallIntMethod(vector, env->GetMethodID(vectorClass, "size", "()I"));
    EXPECT_EQ(takeException(), "");
    for (jint i = 0; i < size; ++i) {
      jobject element = env->CallObjectMethod(vector, elementAt, i);
      EXPECT_EQ(takeException(), "");
      result.push_back(pointerFromJava<IWbemClassObject>(env->CallIntMethod(element, intValue)));
      EXPECT_EQ(takeException(), "");
      env->DeleteLocalRef(element);
    }
    env->DeleteLocalRef(vector);
    return result;
  }

  TestLayout layout;
  JvmServices* services = nullptr;
  velt::wmi::Service service;
  IWbemServices* ns = nullptr;
  IWbemServices* other = nullptr;  // registers none of the test providers' classes
  JNIEnv* env = nullptr;
  long liveAtStart = 0;
};

TEST_F(JavaSide, NativesRoundTripPropertiesAndReportWhatFails) {
  IWbemClassObject* disk = spawn(classOf(ns, u"Velt_Disk"));
  ASSERT_TRUE(callNatives("writeAll", "(J)V", toJava(disk)));

  // Every UTF-16 unit arrives, the surrogate pair included; null stays null.
  EXPECT_EQ(getText(disk, u"Name"), u"Gr\u00fc\u00dfe \u65e5\u672c \U0001D11E \"q\" \\");
  EXPECT_EQ(getText(disk, u"Label"), u"<null>");
  EXPECT_EQ(getText(disk, u"Size"), u"1234567890123");
  EXPECT_EQ(nativesText("readAll", "(J)Ljava/lang/String;", toJava(disk)),
            u"Velt_Disk|[Name]|Gr\u00fc\u00dfe \u65e5\u672c \U0001D11E \"q\" \\|null|-7|"
            u"1234567890123|true|0.25|[a, \u00df, ]|[1, -2, 3]|"
            u"Velt_Disk.Name=\"Gr\u00fc\u00dfe \u65e5\u672c \U0001D11E \\\"q\\\" \\\\\"");
  EXPECT_EQ(nativesText("readMissing", "(J)Ljava/lang/String;", toJava(disk)),
            u"IWbemClassObject::Get(NoSuchProperty) failed: 0x80041002|80041002");
  EXPECT_EQ(referenceCount(disk), 1u);
  disk->Release();

  // A class the namespace lacks fails the spawn with the namespace's own status.
  EXPECT_THAT(
      velt::utf8FromUtf16(nativesText("spawnAndClose", "(JLjava/lang/String;)Ljava/lang/String;",
                                      toJava(ns), env->NewStringUTF("NoSuchClass"))),
      HasSubstr("IWbemServices::GetObject(NoSuchClass) failed: 0x8004"));
  EXPECT_EQ(velt::wmi::liveObjectCount(), liveAtStart);
}

TEST_F(JavaSide, GlueDispatchesEveryRequestToTheProvider) {
  jobject glue = newGlue();
  putDisk(glue, u"d1", 40);

  auto* instance = pointerFromJava<IWbemClassObject>(getInstance(glue, "Velt_Disk.Name=\"d1\""));
  ASSERT_EQ(takeException(), "");
  EXPECT_EQ(getText(instance, u"Size"), u"40");
  EXPECT_EQ(referenceCount(instance), 1u);
  instance->Release();

  // A method: in-parameters through the wrapper, out-parameters filled in place.
  IWbemClassObject *inClass = nullptr, *outClass = nullptr;
  IWbemClassObject* diskClass = classOf(ns, u"Velt_Disk");
  ASSERT_EQ(diskClass->GetMethod(u"Grow", 0, &inClass, &outClass), S_OK);
  diskClass->Release();
  IWbemClassObject *in = spawn(inClass), *out = spawn(outClass);
  putInt(in, u"By", 2);
  jclass wrapperClass = findClass("com/norvex/sysmgt/cim/wmi/wbem/WbemClassObject");
  jobject wrapper =
      env->NewObject(wrapperClass, env->GetMethodID(wrapperClass, "<init>", "(J)V"), toJava(in));
  env->CallVoidMethod(
      glue,
      env->GetMethodID(env->GetObjectClass(glue), "invokeMethod",
                       "(Ljava/lang/String;Ljava/lang/String;Lcom/norvex/sysmgt/cim/"
                       "wmi/wbem/WbemClassObject;J)V"),
      env->NewStringUTF("Velt_Disk.Name=\"d1\""), env->NewStringUTF("Grow"), wrapper, toJava(out));
  ASSERT_EQ(takeException(), "");
  EXPECT_EQ(getText(out, u"NewSize"), u"42");
  env->DeleteLocalRef(wrapper);
  in->Release();
  out->Release();

  // No instance is no failure: the server answers 0 with WBEM_E_NOT_FOUND.
  EXPECT_EQ(getInstance(glue, "Velt_Disk.Name=\"nothing\""), 0);
  EXPECT_EQ(takeException(), "");
  getInstance(glue, "Nope.Id=1");
  EXPECT_EQ(takeException(), "No provider for class Nope");
  EXPECT_EQ(velt::wmi::liveObjectCount(), liveAtStart);
}

// A request asks the namespace for each class it makes instances of once, however many it
// makes, and lets the definitions go when it ends, failed or not; the next request asks again
// and so sees a class as it is by then.
TEST_F(JavaSide, ARequestFetchesEachClassOnceAndTheNextSeesItChanged) {
  constexpr int kDisks = 40;
  velt::test::CountingNamespace* counting = velt::test::CountingNamespace::create(ns);
  jobject glue = newGlue(counting);
  for (int i = 0; i < kDisks; ++i) {
    putDisk(glue, velt::utf16FromUtf8("d" + std::to_string(100 + i)).c_str(), i);
  }

  std::vector<IWbemClassObject*> disks = enumerate(glue, "velt_disk");
  ASSERT_EQ(disks.size(), static_cast<size_t>(kDisks));
  EXPECT_EQ(getText(disks.back(), u"Name"), u"d139");
  EXPECT_EQ(getText(disks.back(), u"Size"), u"39");
  for (IWbemClassObject* disk : disks) disk->Release();
  EXPECT_EQ(counting->lookups(u"velt_disk"), 1);
  EXPECT_EQ(counting->lookups(), 1);
  EXPECT_EQ(velt::wmi::liveObjectCount(), liveAtStart) << "the request kept its class";

  // The class now holds the disk's usage, whose class the namespace does not know yet: the
  // request fails at its first disk, and releases the definition it fetched all the same.
  service.loadMofText(R"MOF(
#pragma namespace("\\\\.\\root\\velt")
class Velt_Disk { [key] string Name; uint64 Size; object Usage; };
)MOF",
                      "usage.mof");
  counting->resetLookups();
  std::string failure;
  EXPECT_TRUE(enumerate(glue, "Velt_Disk", &failure).empty());
  EXPECT_THAT(failure, HasSubstr("IWbemServices::GetObject(Velt_DiskUsage) failed"));
  EXPECT_EQ(counting->lookups(u"Velt_Disk"), 1);
  EXPECT_EQ(velt::wmi::liveObjectCount(), liveAtStart) << "the failed request kept its class";

  service.loadMofText(R"MOF(
#pragma namespace("\\\\.\\root\\velt")
class Velt_DiskUsage { string Disk; uint64 Used; };
)MOF",
                      "usage-class.mof");
  counting->resetLookups();
  disks = enumerate(glue, "Velt_Disk");
  ASSERT_EQ(disks.size(), static_cast<size_t>(kDisks));
  IWbemClassObject* used = embedded(disks.front(), u"Usage");
  ASSERT_NE(used, nullptr);
  EXPECT_EQ(getText(used, u"Disk"), u"d100");
  used->Release();
  for (IWbemClassObject* disk : disks) disk->Release();
  EXPECT_EQ(counting->lookups(u"Velt_Disk"), 1);
  EXPECT_EQ(counting->lookups(u"Velt_DiskUsage"), 1);
  EXPECT_EQ(counting->lookups(), 2);

  // A get is a request of its own too.
  counting->resetLookups();
  pointerFromJava<IWbemClassObject>(getInstance(glue, "Velt_Disk.Name=\"d105\""))->Release();
  EXPECT_EQ(takeException(), "");
  EXPECT_EQ(counting->lookups(u"Velt_Disk"), 1);
  EXPECT_EQ(counting->lookups(u"Velt_DiskUsage"), 1);
  EXPECT_EQ(velt::wmi::liveObjectCount(), liveAtStart);
  env->DeleteLocalRef(glue);
  counting->Release();
}

TEST_F(JavaSide, EveryCimTypeRoundTripsThroughAProvider) {
  jobject glue = newGlue();
  IWbemClassObject* sent = spawn(classOf(ns, u"Velt_Types"));
  ASSERT_TRUE(callNatives("fillTypes", "(J)V", toJava(sent)));
  // Kept as WMI keeps them: 64-bit integers, datetimes and intervals as text.
  EXPECT_EQ(getText(sent, u"U64"), u"18446744073709551615");
  EXPECT_EQ(getText(sent, u"When"), u"20240229235958.123456-330");
  EXPECT_EQ(getText(sent, u"Span"), u"12345678230000.001000:000");
  const std::u16string expected =
      u"S8=-128 U8=255 S16=-32768 U16=65535 S32=-2147483648 U32=4294967295 "
      u"S64=-9223372036854775808 C=65535 U64=18446744073709551615 Huge=9223372036854775808 "
      u"R32=0.5 R64=-1.0E300 B=true When=2024-02-29T23:59:58.123456-05:30 "
      u"Span=PT296296295H0.001S Nothing=truenullnullnullnullnulltrue\n"
      u"S8s=[-128, 127] U8s=[0, 255] S16s=[-32768] U16s=[65535] S32s=[-2147483648, 0] "
      u"U32s=[4294967295] S64s=[-9223372036854775808, 9223372036854775807] Cs=[65535, 65] "
      u"U64s=[-1, 0] R32s=[0.25, -2.0] R64s=[1.0E-300] Bs=[true, false, true] Texts=true "
      u"Whens=[20240229235958.123456-330]";
  EXPECT_EQ(nativesText("describeTypes", "(J)Ljava/lang/String;", toJava(sent)), expected);

  // Through the provider and back: it reads every value and writes each again.
  IWbemClassObject* returned = throughProvider(glue, sent, "Velt_Types.Id=\"t1\"");
  EXPECT_EQ(nativesText("describeTypes", "(J)Ljava/lang/String;", toJava(returned)), expected);
  EXPECT_EQ(velt::utf8FromUtf16(nativesText("refusals", "(J)Ljava/lang/String;", toJava(returned))),
            "ArithmeticException NullPointerException ArithmeticException ArithmeticException "
            "IllegalArgumentException IllegalArgumentException IllegalArgumentException "
            "DateTimeException DateTimeException DateTimeException");
  returned->Release();
  EXPECT_EQ(velt::wmi::liveObjectCount(), liveAtStart);
}

TEST_F(JavaSide, EmbeddedObjectsAndDatetimeArraysRoundTripThroughAProvider) {
  jobject glue = newGlue();
  IWbemClassObject* sent = spawn(classOf(ns, u"Velt_Types"));
  ASSERT_TRUE(callNatives("fillEmbedded", "(JJ)V", toJava(sent), toJava(ns)));
  // Kept as WMI keeps them: an object in a VT_UNKNOWN that answers for IWbemClassObject, an
  // array of them in a SAFEARRAY of VT_UNKNOWN, datetimes as text. The parts Java made and
  // closed live on in the properties alone.
  IWbemClassObject* part = embedded(sent, u"Part");
  ASSERT_NE(part, nullptr);
  EXPECT_EQ(getText(part, u"__CLASS"), u"Velt_Part");
  EXPECT_EQ(getText(part, u"Size"), u"18446744073709551615");
  part->Release();
  auto property = [&](const char16_t* name) {
    velt::wmi::detail::Variant value;
    EXPECT_EQ(sent->Get(name, 0, value.get(), nullptr, nullptr), S_OK);
    return valueText(value);
  };
  EXPECT_EQ(property(u"Parts"), std::to_string(VT_ARRAY | VT_UNKNOWN) + ":,,");
  EXPECT_EQ(property(u"Spans"), std::to_string(VT_ARRAY | VT_BSTR) +
                                    ":00000000000000.000000:000,99999999000000.000001:000,");

  const std::u16string expected =
      u"Part=Velt_Part(outer \u65e5 18446744073709551615 2024-02-29T23:59:58.123456-05:30 "
      u"inner=Velt_Part(inner 0 2024-02-29T23:59:58.123456-05:30 inner=null)) "
      u"Parts=Velt_Part(first 1 2024-02-29T23:59:58.123456-05:30 inner=null)"
      u"Velt_Part(second 2 2024-02-29T23:59:58.123456-05:30 inner=null) "
      u"Whens=[2024-02-29T23:59:58.123456-05:30, 2024-02-29T23:59:58Z] "
      u"Spans=[PT0S, PT2399999976H0.000001S]";
  EXPECT_EQ(nativesText("describeEmbedded", "(J)Ljava/lang/String;", toJava(sent)), expected);

  // Through the provider and back: it takes every embedded object apart and builds it anew.
  IWbemClassObject* returned = throughProvider(glue, sent, "Velt_Types.Id=\"e1\"");
  ASSERT_NE(returned, nullptr);
  EXPECT_EQ(nativesText("describeEmbedded", "(J)Ljava/lang/String;", toJava(returned)), expected);
  EXPECT_EQ(velt::utf8FromUtf16(nativesText("embeddedRefusals", "(JJ)Ljava/lang/String;",
                                            toJava(returned), toJava(ns))),
            "ClassCastException ClassCastException NullPointerException WbemException "
            "DateTimeException DateTimeException NullPointerException DateTimeException");
  // A refused write leaves the value as it was.
  EXPECT_EQ(nativesText("describeEmbedded", "(J)Ljava/lang/String;", toJava(returned)), expected);
  EXPECT_EQ(nativesText("embeddedNulls", "(J)Ljava/lang/String;", toJava(returned)),
            u"000 null null null null true");
  returned->Release();
  EXPECT_EQ(velt::wmi::liveObjectCount(), liveAtStart);
}

TEST_F(JavaSide, EventsFireOnlyWhileTheGlueHoldsASink) {
  jclass glueClass = findClass("com/norvex/sysmgt/proxy/Glue");
  JNINativeMethod native = {const_cast<char*>("CheckForEvents"), const_cast<char*>("(II)V"),
                            reinterpret_cast<void*>(&checkForEvents)};
  ASSERT_EQ(env->RegisterNatives(glueClass, &native, 1), JNI_OK);
  velt::wmi::RecordingSink* sink = velt::wmi::RecordingSink::create();

  auto fireNow = [&](const char* what) {
    return staticText(kDiskProvider, "fireNow", "(Ljava/lang/String;)Ljava/lang/String;",
                      env->NewStringUTF(what));
  };
  auto channelInfo = [&] {
    return staticText(kDiskProvider, "channelInfo", "()Ljava/lang/String;");
  };

  jobject local = newGlue();
  jobject glue = env->NewGlobalRef(local);
  env->DeleteLocalRef(local);
  setEventSink(glue, sink);
  EXPECT_EQ(fireNow("first"), u"true");
  putDisk(glue, u"d2", 1);
  ASSERT_EQ(sink->objects().size(), 2u);
  EXPECT_EQ(getText(sink->objects()[1], u"Disk"), u"d2");
  EXPECT_EQ(firedEvents.front().first, static_cast<jint>(toJava(sink)));
  setEventSink(glue, nullptr);
  EXPECT_EQ(fireNow("unheard"), u"false");

  // The channel names its namespace and the classes it carries, and refuses others. Once the
  // sink is taken back, a channel a provider kept makes no event through the namespace either:
  // the server may release both as soon as setEventSink returns.
  setEventSink(glue, sink);
  EXPECT_EQ(channelInfo(), u"2|root\\velt|[Velt_DiskEvent]|refused|makes events");
  setEventSink(glue, nullptr);
  EXPECT_EQ(channelInfo(), u"2|root\\velt|[Velt_DiskEvent]|refused|makes none");
  // A namespace that registers none of a provider's event classes does not start it.
  jobject otherGlue = newGlue(other, "root\\other");
  setEventSink(otherGlue, sink);
  EXPECT_EQ(channelInfo(), u"2|root\\velt|[Velt_DiskEvent]|refused|makes none");
  setEventSink(otherGlue, nullptr);
  setEventSink(glue, sink);
  // An event that cannot be made does not fail the put that announced it: the disk is stored.
  putDisk(glue, u"bad-event", 5);
  pointerFromJava<IWbemClassObject>(getInstance(glue, "Velt_Disk.Name=\"bad-event\""))->Release();
  EXPECT_EQ(takeException(), "");
  setEventSink(glue, nullptr);

  env->DeleteGlobalRef(glue);
  EXPECT_EQ(sink->objects().size(), 2u);
  sink->Release();
  EXPECT_EQ(velt::wmi::liveObjectCount(), liveAtStart);
}

}  // namespace
