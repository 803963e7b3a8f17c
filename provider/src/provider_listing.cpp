#include "provider/provider_listing.h"

#include <jvm/JvmServices.h>

#include <string>

#include "glue_contract.h"
#include "java_call.h"

namespace {

constexpr char kListProviders[] = "listProviders";
constexpr char kListProvidersSignature[] = "()Ljava/lang/String;";

int fail(FILE* errors, const std::string& text) {
  std::fprintf(errors, "%s\n", text.c_str());
  return 1;
}

int listWith(JvmServices* jvm, FILE* out, FILE* errors) {
  if (jvm->startJvm() == 0) {
    return fail(errors, jvm->runtimeSearchFailure().empty() ? "The Java VM could not be started."
                                                            : jvm->runtimeSearchFailure());
  }
  jclass glue = jvm->loadClass(velt::provider::glue::kClassName);
  if (glue == nullptr)
    return fail(errors, std::string("The class ") + velt::provider::glue::kClassName +
                            " could not be loaded.");
  JavaThread thread(jvm);
  int result = 1;
  if (JNIEnv* env = thread.env()) {
    jmethodID list = env->GetStaticMethodID(glue, kListProviders, kListProvidersSignature);
    jstring text = nullptr;
    if (list != nullptr && !env->ExceptionCheck()) {
      text = static_cast<jstring>(env->CallStaticObjectMethod(glue, list));
    }
    if (env->ExceptionCheck() || text == nullptr) {
      env->ExceptionDescribe();  // to the VM's console, which is the trace log
      env->ExceptionClear();
      fail(errors, "The Glue could not list its providers (see the trace log).");
    } else {
      const char* utf = env->GetStringUTFChars(text, nullptr);
      if (utf != nullptr) {
        std::string all(utf);
        env->ReleaseStringUTFChars(text, utf);
        for (size_t start = 0; start < all.size();) {
          size_t end = all.find('\n', start);
          if (end == std::string::npos) end = all.size();
          std::fprintf(out, "provider\t%s\n", all.substr(start, end - start).c_str());
          start = end + 1;
        }
        result = 0;
      }
      env->DeleteLocalRef(text);
    }
    env->DeleteGlobalRef(glue);
  }
  thread.detach();
  std::fflush(out);
  return result;
}

}  // namespace

int listJavaProviders(FILE* out, FILE* errors) {
  JvmServices* jvm = JvmServices::acquire();
  int result = jvm != nullptr ? listWith(jvm, out, errors) : fail(errors, "Out of memory.");
  JvmServices::release();
  return result;
}
