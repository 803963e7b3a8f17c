// Flat copies of encoded calls, many to a chunk of the encoding thread. A provider streaming
// indications would otherwise allocate once per call on its thread, and the loop thread, which
// drops each call once sent, would free each of them into that thread's heap, taking the heap's
// lock against the provider every time. A chunk is freed once, when the last call in it goes.
#pragma once

#include <capnp/message.h>
#include <kj/array.h>

#include <cstddef>

namespace velt::wmi::remote {

// The most bytes of encoded calls that one streamed call carries (one call larger than that
// still goes, alone).
constexpr size_t kBatchBytes = size_t(128) << 10;

// A flat copy of `message` (segment table, then segments), in the calling thread's current
// chunk. The array may be dropped on any thread.
kj::Array<capnp::word> copyToChunk(capnp::MessageBuilder& message);
// A copy of a batch of calls as it arrived, for the thread that reads it. Batches arrive one
// after another, each about a chunk's size: freed to the heap and taken again, each would cost
// the receiving process fresh pages to fault in and freed ones to hand back.
kj::Array<capnp::word> copyToChunk(kj::ArrayPtr<const kj::byte> bytes);

}  // namespace velt::wmi::remote
