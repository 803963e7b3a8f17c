// What the provider relies on of the Java side: the classes and members it looks up, their JNI
// signatures, and the texts traced when a member is missing. Method IDs are looked up on every
// call, never cached, so a Glue class replaced on the class path is always asked afresh.
#pragma once

namespace velt::provider::glue {

// A Glue method an operation calls. With a not-found text, a null method ID is told apart from
// a lookup that threw; without one, the exception test alone decides, since a failed lookup
// always leaves an exception pending.
struct Method {
  const char* name;
  const char* signature;
  const char* notFoundText;
};

// The Glue class: dotted for loading, slashed for FindClass.
inline constexpr char kClassName[] = "com.norvex.sysmgt.proxy.Glue";
inline constexpr char kClassPath[] = "com/norvex/sysmgt/proxy/Glue";

// Constructor: the namespace's IWbemServices* and the namespace path.
inline constexpr char kConstructor[] = "<init>";
inline constexpr char kConstructorSignature[] = "(JLjava/lang/String;)V";

// The object path as WMI gave it; returns the IWbemClassObject* found, one reference handed
// over, or 0.
inline constexpr char kGetInstance[] = "getInstance";
inline constexpr char kGetInstanceSignature[] = "(Ljava/lang/String;)I";
inline constexpr char kGetInstanceNotFound[] =
    "No glueGetInstance method found in specified class.";
inline constexpr Method kGetInstanceMethod{kGetInstance, kGetInstanceSignature,
                                           kGetInstanceNotFound};

// The instance's class name and the IWbemClassObject* to store.
inline constexpr char kSetInstance[] = "setInstance";
inline constexpr char kSetInstanceSignature[] = "(Ljava/lang/String;J)V";
inline constexpr char kSetInstanceNotFound[] =
    "No glueSetInstance method found in specified class.";
inline constexpr Method kSetInstanceMethod{kSetInstance, kSetInstanceSignature,
                                           kSetInstanceNotFound};

// The class name, always false, the class name again; returns a Vector of Integer, each an
// IWbemClassObject* with one reference handed over.
inline constexpr char kEnumInstances[] = "enumInstances";
inline constexpr char kEnumInstancesSignature[] =
    "(Ljava/lang/String;ZLjava/lang/String;)Ljava/util/Vector;";
inline constexpr Method kEnumInstancesMethod{kEnumInstances, kEnumInstancesSignature, nullptr};

// The object path, the method name, the wrapped in-parameters and the out-parameter instance
// to fill.
inline constexpr char kInvokeMethod[] = "invokeMethod";
inline constexpr char kInvokeMethodSignature[] =
    "(Ljava/lang/String;Ljava/lang/String;Lcom/norvex/sysmgt/cim/wmi/wbem/WbemClassObject;J)V";
inline constexpr char kInvokeMethodNotFound[] = "No invokeMethod method found in specified class.";
inline constexpr Method kInvokeMethodMethod{kInvokeMethod, kInvokeMethodSignature,
                                            kInvokeMethodNotFound};

// The provider's IWbemObjectSink*.
inline constexpr char kSetEventSink[] = "setEventSink";
inline constexpr char kSetEventSinkSignature[] = "(J)V";
inline constexpr Method kSetEventSinkMethod{kSetEventSink, kSetEventSinkSignature, nullptr};

// Registered on the Glue class: the sink and the event object, each as an int.
inline constexpr char kCheckForEvents[] = "CheckForEvents";
inline constexpr char kCheckForEventsSignature[] = "(II)V";

// The wrapper Java works on the in-parameters through.
inline constexpr char kWbemClassObjectPath[] = "com/norvex/sysmgt/cim/wmi/wbem/WbemClassObject";
inline constexpr char kWbemClassObjectConstructorSignature[] = "(J)V";

}  // namespace velt::provider::glue

// Classes of the Java platform the provider calls.
namespace velt::provider::javaplatform {

inline constexpr char kRuntimeClass[] = "java/lang/Runtime";
inline constexpr char kGetRuntime[] = "getRuntime";
inline constexpr char kGetRuntimeSignature[] = "()Ljava/lang/Runtime;";
inline constexpr char kGc[] = "gc";
inline constexpr char kRunFinalization[] = "runFinalization";
inline constexpr char kVoidSignature[] = "()V";

inline constexpr char kVectorClass[] = "java/util/Vector";
inline constexpr char kSize[] = "size";
inline constexpr char kSizeSignature[] = "()I";
inline constexpr char kElementAt[] = "elementAt";
inline constexpr char kElementAtSignature[] = "(I)Ljava/lang/Object;";

inline constexpr char kIntegerClass[] = "java/lang/Integer";
inline constexpr char kIntValue[] = "intValue";
inline constexpr char kIntValueSignature[] = "()I";

}  // namespace velt::provider::javaplatform
