// Flat copies of encoded calls, many to a chunk of the encoding thread. A provider streaming
// indications would otherwise allocate once per call on its thread, and the loop thread, which
// drops each call once sent, would free each of them into that thread's heap, taking the heap's
// lock against the provider every time. A chunk is freed once, when the last call in it goes.
#pragma once

#include <capnp/message.h>
#include <kj/array.h>

namespace velt::wmi::remote {

// A flat copy of `message` (segment table, then segments), in the calling thread's current
// chunk. The array may be dropped on any thread.
kj::Array<capnp::word> copyToChunk(capnp::MessageBuilder& message);

}  // namespace velt::wmi::remote
