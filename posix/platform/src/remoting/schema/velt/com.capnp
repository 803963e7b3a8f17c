# The generic COM interfaces as they cross between processes. Every interface pointer that
# crosses is an Unknown capability whose server also implements the interface-specific schema,
# which extends Unknown; the proxy on the other side casts it to that schema.
@0xa397455a5f119f5b;

using Cxx = import "/capnp/c++.capnp";
$Cxx.namespace("velt::rpc");

interface Unknown {
  # Answers the object's own QueryInterface; `object` is set only when `status` succeeds.
  queryInterface @0 (iid :Data) -> (status :Int32, object :Unknown);
  # Names the object, as its IUnknown pointer does in its own process: two capabilities for
  # one object answer one token, however often the object crossed.
  identity @1 () -> (token :UInt64);
}

interface ClassFactory extends(Unknown) {
  createInstance @0 (iid :Data) -> (status :Int32, object :Unknown);
  lockServer @1 (lock :Bool) -> (status :Int32);
}

interface ClassSource {
  # What a local server's endpoint offers first: its registered class object.
  getClassObject @0 (clsid :Data, iid :Data) -> (status :Int32, object :Unknown);
}
