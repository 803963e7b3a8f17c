// The process's single gateway to Java: finds and loads the Java runtime, starts the one VM of
// the process, loads classes and attaches the threads that call into Java.
#pragma once

#include <jni.h>
#include <windows.h>

#include <string>
#include <vector>

struct IWbemContext;

class JvmServices {
 public:
  typedef jint(JNICALL* GetDefaultInitArgsFunction)(void* initArgs);
  typedef jint(JNICALL* CreateJavaVMFunction)(JavaVM** vm, void** env, void* initArgs);

  // The single object, made when none exists; null when making it fails. Every call counts one
  // user, also a failed one.
  static JvmServices* acquire();
  // Counts one user less; the last one tears the object down (the VM itself stays).
  static void release();

  void traceAllocation();

  // 1 when the VM runs after the call (started now or earlier), 0 on failure.
  int startJvm();
  // Why the last startJvm found no Java runtime: the files it tried and how to make one found.
  // Empty when the runtime was found.
  const std::string& runtimeSearchFailure() const { return m_runtimeSearchFailure; }

  // A global reference to the class named in dotted form, or null. Attaches and detaches the
  // calling thread by itself.
  jclass loadClass(const char* className);

  // Hands the thread's WMI call context to the sibling library, then attaches the thread.
  jint attachWithContext(JNIEnv** env, IWbemContext* context);
  jint attach(JNIEnv** env);
  // Detaches the thread and clears its context in the sibling library.
  jint detach();

  // Runtime discovery: the entry point from the runtime library, loaded by the first search
  // that succeeds with `candidate`; null when nothing loads or the entry point is missing.
  GetDefaultInitArgsFunction findGetDefaultInitArgs(const char* candidate);
  CreateJavaVMFunction findCreateJavaVM(const char* candidate);

  // The jar list: the program's directory, then every "*.jar" in it, each entry ended by the
  // class-path separator. False when the executable's path has no usable separator.
  bool buildClassPath(std::string& jarList);
  // The WINDIR=, TARVO_HOME=, TEMPDIR= and CWD= definitions handed to Java.
  void buildEnvironmentDefines(std::string& windowsDefine, std::string& homeDefine,
                               std::string& tempDefine, std::string& directoryDefine);
  // True and the three texts when the installation record was read; otherwise the outputs
  // stay as they were.
  bool readInstallRecord(std::string& homeDefine, std::string& installDirectory,
                         std::string& version);

 private:
  JvmServices() = default;
  JvmServices(const JvmServices&) = delete;
  JvmServices& operator=(const JvmServices&) = delete;

  FARPROC findEntryPoint(const char* candidate, const char* entryPointName, bool traced);
  GetDefaultInitArgsFunction findInJavaHome();
  void describeRuntimeNotFound();
  bool adoptExistingJavaVM();

  JavaVM* m_pJavaVM = nullptr;
  std::vector<std::string> m_triedRuntimes;
  std::string m_runtimeSearchFailure;

  static JvmServices* sm_pInstance;
  static LONG sm_cUsers;
};

// The VM's console: every message it prints goes to the trace log instead.
extern "C" jint JNICALL jvmVfprintfHook(FILE* stream, const char* format, va_list arguments);

// Extends PATH, as the process received it, by the program's directory, so that libraries
// loaded later (and the VM) find what lies beside the executable.
void appendProgramDirToPath();

int loadSiblingLibrary();
void unloadSiblingLibrary();
