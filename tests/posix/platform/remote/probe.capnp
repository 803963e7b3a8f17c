@0xa50ff8fb4415ea08;

using Cxx = import "/capnp/c++.capnp";
using Com = import "/velt/com.capnp";
$Cxx.namespace("velt::test::rpc");

interface RemoteProbe extends(Com.Unknown) {
  processId @0 () -> (status :Int32, pid :Int32);
  meet @1 (parties :Int32) -> (status :Int32);
}
