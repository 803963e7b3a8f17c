# The WMI interfaces as they cross between processes. Objects and contexts cross by value (each
# process owns its copies); interface pointers handed in calls (sinks, the namespace given to
# a provider) are capabilities back into the process that handed them.
@0xb08f49379fa6764e;

using Cxx = import "/capnp/c++.capnp";
using Com = import "/velt/com.capnp";
$Cxx.namespace("velt::wmi::rpc");

# A string that may be null: unset means a null pointer, set (even empty) means text.
# Text is UTF-16 code units as they are, so nothing is lost in conversion.

struct Value {
  vt @0 :UInt16;
  union {
    none @1 :Void;
    integer @2 :Int64;
    real @3 :Float64;
    text @4 :Data;
    elements @5 :List(Value);
    object @6 :WbemObject;
  }
}

struct Qualifier {
  name @0 :Data;
  value @1 :Value;
  flavor @2 :Int32;
}

struct Property {
  name @0 :Data;
  type @1 :Int32;
  qualifiers @2 :List(Qualifier);
  defaultValue @3 :Value;
  origin @4 :Data;
}

struct Method {
  name @0 :Data;
  qualifiers @1 :List(Qualifier);
  inParameters @2 :Layout;   # unset when the method takes none
  outParameters @3 :Layout;  # unset when it returns nothing
  origin @4 :Data;
}

struct Layout {
  name @0 :Data;
  derivation @1 :List(Data);
  qualifiers @2 :List(Qualifier);
  properties @3 :List(Property);
  methods @4 :List(Method);
  server @5 :Data;
  nameSpace @6 :Data;
}

# Within one sink's stream of indications, each class layout goes once: the first object of a
# layout carries it with the next number of the stream (1, 2, ...), later ones only the number.
# Anywhere else the number is 0 and every object carries its layout.
struct WbemObject {
  layout @0 :Layout;     # unset when `layoutId` names a layout the stream already carried
  genus @1 :Int32;
  values @2 :List(Value);
  layoutId @3 :UInt32;
}

struct ContextValue {
  name @0 :Data;
  value @1 :Value;
}

struct Context {
  values @0 :List(ContextValue);
}

# The objects of one Indicate call on a sink.
struct Indicated {
  objects @0 :List(WbemObject);
}

# Streamed: the sender goes on as soon as the flow-control window has room. A failure the real
# sink answered fails the sink's next call, its text naming the status as "hresult=0x........";
# from then on every call on that capability fails the same.
interface ObjectSink extends(Com.Unknown) {
  # One or more Indicate calls in order, each an `Indicated` in its flat form (segment table,
  # then segments), one after another: the sender copies them as its thread encoded them, and
  # the receiver reads them where they are made on the real sink.
  indicate @0 (calls :Data) -> stream;
  setStatus @1 (flags :Int32, result :Int32, param :Data, object :WbemObject) -> stream;
  # The same sink through a capability no failed stream breaks, asked for at once.
  control @2 () -> (control :SinkControl);
  # Answers once every call streamed before it was made on the real sink.
  flush @3 () -> ();
}

interface SinkControl {
  # Answers once every call streamed before it was made on the real sink.
  flush @0 () -> ();
  # The final status of a provider whose stream the sink broke with a failure: still made, in
  # order, answering what the sink answered.
  setStatus @1 (flags :Int32, result :Int32, param :Data, object :WbemObject) -> (status :Int32);
}

interface ProviderInitSink extends(Com.Unknown) {
  setStatus @0 (status :Int32, flags :Int32) -> (status :Int32);
}

interface ProviderInit extends(Com.Unknown) {
  initialize @0 (user :Data, flags :Int32, nameSpace :Data, locale :Data,
                 services :Com.Unknown, context :Context, sink :Com.Unknown) -> (status :Int32);
}

interface EventProvider extends(Com.Unknown) {
  provideEvents @0 (sink :Com.Unknown, flags :Int32) -> (status :Int32);
}

# Every method of IWbemServices. An out object answers by value; out interface pointers (the
# working namespace, call results, enumerators) answer capabilities, set only when the call
# succeeded and asked for them. `wants*` says whether the caller passed the out pointer.
struct Call {
  flags @0 :Int32;
  context @1 :Context;   # unset for a null context
  path @2 :Data;         # object path, class name, superclass, filter or namespace
  method @3 :Data;
  language @4 :Data;
  query @5 :Data;
  object @6 :WbemObject; # the class or instance written, or the method's in-parameters
  sink @7 :Com.Unknown;  # the response handler of an asynchronous call
  wantsObject @8 :Bool;
  wantsResult @9 :Bool;
  wantsMade @10 :Bool;
}

struct Answer {
  status @0 :Int32;
  object @1 :WbemObject;
  result @2 :Com.Unknown;
  made @3 :Com.Unknown;     # the out interface pointer
  sinkCalls @4 :UInt64;     # calls streamed to the call's sink before the call returned
}

interface Services extends(Com.Unknown) {
  openNamespace @0 (call :Call) -> (answer :Answer);
  cancelAsyncCall @1 (call :Call) -> (answer :Answer);
  queryObjectSink @2 (call :Call) -> (answer :Answer);
  getObject @3 (call :Call) -> (answer :Answer);
  getObjectAsync @4 (call :Call) -> (answer :Answer);
  putClass @5 (call :Call) -> (answer :Answer);
  putClassAsync @6 (call :Call) -> (answer :Answer);
  deleteClass @7 (call :Call) -> (answer :Answer);
  deleteClassAsync @8 (call :Call) -> (answer :Answer);
  createClassEnum @9 (call :Call) -> (answer :Answer);
  createClassEnumAsync @10 (call :Call) -> (answer :Answer);
  putInstance @11 (call :Call) -> (answer :Answer);
  putInstanceAsync @12 (call :Call) -> (answer :Answer);
  deleteInstance @13 (call :Call) -> (answer :Answer);
  deleteInstanceAsync @14 (call :Call) -> (answer :Answer);
  createInstanceEnum @15 (call :Call) -> (answer :Answer);
  createInstanceEnumAsync @16 (call :Call) -> (answer :Answer);
  execQuery @17 (call :Call) -> (answer :Answer);
  execQueryAsync @18 (call :Call) -> (answer :Answer);
  execNotificationQuery @19 (call :Call) -> (answer :Answer);
  execNotificationQueryAsync @20 (call :Call) -> (answer :Answer);
  execMethod @21 (call :Call) -> (answer :Answer);
  execMethodAsync @22 (call :Call) -> (answer :Answer);
}

# IWbemLocator: how a client reaches a namespace of a service in another process. The namespace
# answered is a capability into the service.
interface Locator extends(Com.Unknown) {
  connectServer @0 (resource :Data, user :Data, password :Data, locale :Data,
                    securityFlags :Int32, authority :Data, context :Context)
      -> (status :Int32, services :Com.Unknown);
}

# IEnumWbemClassObject: objects cross by value, a batch per call (each batch numbers its class
# layouts afresh, as a sink's stream does). Timeouts are in milliseconds, -1 for none.
interface Enumerator extends(Com.Unknown) {
  reset @0 () -> (status :Int32);
  next @1 (timeout :Int32, count :UInt32) -> (status :Int32, objects :List(WbemObject));
  nextAsync @2 (count :UInt32, sink :Com.Unknown) -> (status :Int32);
  clone @3 () -> (status :Int32, enumerator :Com.Unknown);
  skip @4 (timeout :Int32, count :UInt32) -> (status :Int32);
}

# IWbemCallResult: what a semisynchronous call made, each answer once the call ended or its
# timeout passed.
interface CallResult extends(Com.Unknown) {
  getResultObject @0 (timeout :Int32) -> (status :Int32, object :WbemObject);
  getResultString @1 (timeout :Int32) -> (status :Int32, text :Data);
  getResultServices @2 (timeout :Int32) -> (status :Int32, services :Com.Unknown);
  getCallStatus @3 (timeout :Int32) -> (status :Int32, callStatus :Int32);
}
