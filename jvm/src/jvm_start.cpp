// Starting the one Java VM of the process.
#include <jvm/JvmServices.h>

#include <string>

#include "executable_path.h"
#include "jdk11_init_args.h"
#include "path_rules.h"
#include "platform_names.h"
#include "process_state.h"
#include "trace/trace.h"

using namespace velt::jvm;

namespace {
// Spelled out: the headers of an older JDK do not define it.
constexpr jint kJniVersion24 = 0x00180000;
}  // namespace

extern "C" jint JNICALL jvmVfprintfHook(FILE*, const char* format, va_list arguments) {
  va_list copy;
  va_copy(copy, arguments);
  traceLine(kTraceClass, format, &copy, 1);
  va_end(copy);
  return 1;
}

int JvmServices::startJvm() {
  trace(kTraceClass, "JvmServices::startJvm", 0);
  if (m_pJavaVM != nullptr) {
    trace(kTraceClass, "JVM already started, returning to CProxyProvider::Initialize()...", 0);
    return 1;
  }

  if (!loadSiblingLibrary()) {
    trace(kTraceClass, "Unable to load qelvor.dll, returning.", 0);
    return 0;
  }

  JDK1_1InitArgs defaults = {};
  defaults.version = JNI_VERSION_1_1;
  m_triedRuntimes.clear();
  m_runtimeSearchFailure.clear();
  GetDefaultInitArgsFunction getDefaultInitArgs = findGetDefaultInitArgs(kPreferredRuntime);
  if (getDefaultInitArgs == nullptr) getDefaultInitArgs = findGetDefaultInitArgs(kFallbackRuntime);
  if (getDefaultInitArgs == nullptr) getDefaultInitArgs = findInJavaHome();
  if (getDefaultInitArgs == nullptr) {
    describeRuntimeNotFound();
    return 0;
  }

  // A process runs one VM at most, and an earlier object's VM outlives it: take that one up.
  if (adoptExistingJavaVM()) {
    trace(kTraceClass, "JVM already started, returning to CProxyProvider::Initialize()...", 0);
    return 1;
  }

  getDefaultInitArgs(&defaults);
  // From Java 24 on, the VM warns about every native library the SDK's code loads unless that
  // code may use native access; an older VM would refuse the option, so it is given only to a
  // VM that knows the JNI version of Java 24.
  // The 1.1 record's size, for a runtime that fills it whatever version it is asked about.
  JDK1_1InitArgs probe = {};
  probe.version = kJniVersion24;
  bool nativeAccessOption = getDefaultInitArgs(&probe) == JNI_OK;

  std::string jarList;
  if (!buildClassPath(jarList)) {
    trace(kTraceClass, "Couldn't construct classpath", 0);
    return 0;
  }
  std::string classPathOption = "-Djava.class.path=" + jarList;
  if (defaults.classpath != nullptr) classPathOption += defaults.classpath;

  std::string windowsDefine, homeDefine, tempDefine, directoryDefine;
  buildEnvironmentDefines(windowsDefine, homeDefine, tempDefine, directoryDefine);
  std::string windowsOption = "-D" + windowsDefine;
  std::string tempOption = "-D" + tempDefine;
  std::string homeOption = "-D" + homeDefine;
  std::string directoryOption = "-D" + directoryDefine;
  std::string reducedSignalsOption = std::string("-X") + "rs";
  // Two more behind the fixed eight: the sibling file Java must bind its natives to, and the
  // place of the VM's crash report, which would otherwise land in the caller's current folder.
  std::string siblingOption = "-Dqelvor.library=" + siblingLibraryPath();
  // The class path was built, so the executable's path has a usable separator.
  std::string crashReportOption =
      "-XX:ErrorFile=" +
      crashReportPattern(programDirectory(executablePath()).value_or("") + kDirectorySeparator);

  appendProgramDirToPath();

  JavaVMOption options[11] = {};
  options[0].optionString = classPathOption.data();
  options[1].optionString = const_cast<char*>("-verbose:jni");
  options[2].optionString = const_cast<char*>("vfprintf");
  options[2].extraInfo = reinterpret_cast<void*>(&jvmVfprintfHook);
  options[3].optionString = windowsOption.data();
  options[4].optionString = tempOption.data();
  options[5].optionString = homeOption.data();
  options[6].optionString = directoryOption.data();
  options[7].optionString = reducedSignalsOption.data();
  options[8].optionString = siblingOption.data();
  options[9].optionString = crashReportOption.data();
  options[10].optionString = const_cast<char*>("--enable-native-access=ALL-UNNAMED");

  JavaVMInitArgs startArgs = {};
  startArgs.version = JNI_VERSION_1_2;
  startArgs.nOptions = nativeAccessOption ? 11 : 10;
  startArgs.options = options;
  startArgs.ignoreUnrecognized = JNI_TRUE;

  CreateJavaVMFunction createJavaVM = findCreateJavaVM(kPreferredRuntime);
  if (createJavaVM == nullptr) createJavaVM = findCreateJavaVM(kFallbackRuntime);
  if (createJavaVM == nullptr) return 0;

  JNIEnv* env = nullptr;
  if (createJavaVM(&m_pJavaVM, reinterpret_cast<void**>(&env), &startArgs) < 0) {
    m_pJavaVM = nullptr;
    trace(kTraceClass, "Unable to create JVM. Exiting", 0);
    return 0;
  }
  return 1;
}
