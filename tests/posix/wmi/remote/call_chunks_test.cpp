// Encoded calls copied into shared chunks: each copy reads back as the message it was made
// from, however many segments that had, and the copies may be dropped on another thread in
// any order (the sanitizers see a chunk freed too soon or never).
#include <capnp/message.h>
#include <capnp/serialize.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "remote/call_chunks.h"

namespace velt::wmi::remote {
namespace {

// A message of `count` 8-byte blobs; a small first segment makes a long one span many.
void fill(capnp::MessageBuilder& message, unsigned count, uint64_t seed) {
  auto list = message.initRoot<capnp::AnyPointer>().initAs<capnp::List<uint64_t>>(count);
  for (unsigned i = 0; i < count; ++i) list.set(i, seed * 1000003u + i);
}

TEST(CallChunksTest, EachCopyIsTheFlatMessage) {
  for (unsigned count : {0u, 1u, 100u, 5000u, 20000u}) {
    capnp::MallocMessageBuilder message(16, capnp::AllocationStrategy::FIXED_SIZE);
    fill(message, count, count);
    ASSERT_EQ(message.getSegmentsForOutput().size() > 1, count >= 100) << count;
    kj::Array<capnp::word> expected = capnp::messageToFlatArray(message);
    kj::Array<capnp::word> copy = copyToChunk(message);
    ASSERT_EQ(copy.size(), expected.size()) << count;
    EXPECT_EQ(std::memcmp(copy.begin(), expected.begin(), expected.asBytes().size()), 0) << count;
    capnp::FlatArrayMessageReader reader(copy);  // and the reader takes it whole
    EXPECT_EQ(reader.getRoot<capnp::AnyPointer>().getAs<capnp::List<uint64_t>>().size(), count);
    // A batch as it arrived is copied as it is, even one larger than a chunk.
    kj::Array<capnp::word> received = copyToChunk(expected.asBytes());
    ASSERT_EQ(received.size(), expected.size()) << count;
    EXPECT_EQ(std::memcmp(received.begin(), expected.begin(), expected.asBytes().size()), 0);
  }
}

TEST(CallChunksTest, CopiesDroppedOnAnotherThreadInAnyOrder) {
  std::vector<kj::Array<capnp::word>> copies;
  std::vector<kj::Array<capnp::word>> expected;
  std::mt19937 random(7);
  std::thread writer([&] {
    for (uint64_t i = 0; i < 3000; ++i) {
      // Mostly small calls, now and then one larger than any chunk.
      const unsigned count = i % 500 == 499 ? 12000u : unsigned(random() % 64);
      capnp::MallocMessageBuilder message;
      fill(message, count, i);
      copies.push_back(copyToChunk(message));
      expected.push_back(capnp::messageToFlatArray(message));
    }
  });
  writer.join();  // the writer's thread is gone; its copies live on
  std::shuffle(copies.begin(), copies.end(), random);
  for (auto& copy : copies) {
    auto match = std::find_if(expected.begin(), expected.end(), [&](const auto& flat) {
      return flat.size() == copy.size() &&
             std::memcmp(flat.begin(), copy.begin(), flat.asBytes().size()) == 0;
    });
    ASSERT_NE(match, expected.end());
  }
  std::thread dropper([&] { copies.clear(); });
  dropper.join();
}

}  // namespace
}  // namespace velt::wmi::remote
