// Every file-system spelling of the Java runtime services, for the platform the server runs on.
// The algorithms stay the same on both; only these texts differ.
#pragma once

namespace velt::jvm {

#ifdef _WIN32
inline constexpr char kDirectorySeparator = '\\';
inline constexpr char kSearchPathSeparator = ';';  // PATH and the class path alike
inline constexpr const char* kRuntimeSubdirectory = "jre\\bin\\";
inline constexpr const char* kPreferredRuntime = "classic\\jvm.dll";
inline constexpr const char* kFallbackRuntime = "jvm.dll";
inline constexpr const char* kRuntimeFileName = "jvm.dll";
inline constexpr const char* kSiblingInParent = "..\\qelvor.dll";
inline constexpr const char* kSiblingByName = "qelvor";
#else
inline constexpr char kDirectorySeparator = '/';
// A Linux VM splits its class path at ':' only.
inline constexpr char kSearchPathSeparator = ':';
inline constexpr const char* kRuntimeSubdirectory = "jre/lib/";
inline constexpr const char* kPreferredRuntime = "server/libjvm.so";
inline constexpr const char* kFallbackRuntime = "libjvm.so";
inline constexpr const char* kRuntimeFileName = "libjvm.so";
// Tried last, where a Java installation is usually announced on POSIX systems.
inline constexpr const char* kRuntimeUnderJavaHome = "lib/server/libjvm.so";
inline constexpr const char* kSiblingInParent = "../libqelvor.so";
inline constexpr const char* kSiblingByName = "libqelvor.so";
#endif

inline constexpr const char* kJarPattern = "*.jar";

}  // namespace velt::jvm
