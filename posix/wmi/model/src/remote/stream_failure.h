// How a failure a real sink answered travels back to the sender of a stream: as the exception
// of the sink's next streamed call, its text naming the status.
#pragma once

#include <kj/exception.h>
#include <winplatform/remoting.h>

#include <cstdlib>
#include <cstring>

namespace velt::wmi::remote {

inline kj::Exception sinkFailure(HRESULT status) {
  return kj::Exception(kj::Exception::Type::FAILED, __FILE__, __LINE__,
                       kj::str("hresult=0x", kj::hex(uint32_t(status))));
}

// The status a failed streamed call stands for: the sink's own, else the transport's.
inline HRESULT statusOfSinkFailure(const kj::Exception& failure) {
  static constexpr char kMark[] = "hresult=0x";
  const char* found = std::strstr(failure.getDescription().cStr(), kMark);
  if (found == nullptr) return remoting::statusOf(failure);
  char* end = nullptr;
  unsigned long status = std::strtoul(found + sizeof kMark - 1, &end, 16);
  if (end == found + sizeof kMark - 1 || status == 0 || status > 0xFFFFFFFFul) {
    return remoting::statusOf(failure);
  }
  return HRESULT(uint32_t(status));
}

}  // namespace velt::wmi::remote
