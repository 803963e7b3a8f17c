// A stream that wakes its loop only for what it waits for. A stream that always watches its
// socket for room to write (edge-triggered, as the loop watches) is woken each time the peer
// reads one of its messages: on a call that exchanges a dozen small messages, that is a dozen
// wake-ups of each process's loop thread for nothing, each a thread switch that the other
// process's work waits behind. Reads are buffered, so the messages that arrived together are
// read with one system call.
#include "socket_stream.h"

#include <fcntl.h>
#include <kj/async-unix.h>
#include <kj/debug.h>
#include <kj/io.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "runtime.h"

namespace velt::remoting {
namespace {

using Observer = kj::UnixEventPort::FdObserver;
using Piece = kj::ArrayPtr<const kj::byte>;

constexpr size_t kReadBuffer = size_t(64) << 10;
constexpr size_t kMaxPiecesPerSend = 64;

class SocketStream final : public kj::AsyncIoStream {
 public:
  SocketStream(kj::UnixEventPort& port, int fd)
      : m_port(port),
        m_fd(fd),
        m_readable(port, fd, Observer::OBSERVE_READ),
        m_buffer(kj::heapArray<kj::byte>(kReadBuffer)) {}

  kj::Promise<size_t> tryRead(void* buffer, size_t minBytes, size_t maxBytes) override {
    return readInto(static_cast<kj::byte*>(buffer), minBytes, maxBytes, 0);
  }

  kj::Promise<void> write(const void* buffer, size_t size) override {
    Piece piece(static_cast<const kj::byte*>(buffer), size);
    return write(kj::arrayPtr(&piece, 1));
  }

  kj::Promise<void> write(kj::ArrayPtr<const Piece> pieces) override {
    size_t index = 0, offset = 0;
    if (send(pieces, index, offset)) return kj::READY_NOW;
    // The socket is full: only now do the pieces' bounds need keeping (their bytes are the
    // caller's until the promise settles).
    return sendWhenWritable(kj::heapArray(pieces.slice(index, pieces.size())), offset);
  }

  kj::Promise<void> whenWriteDisconnected() override { return m_readable.whenWriteDisconnected(); }

  void shutdownWrite() override { KJ_SYSCALL(::shutdown(m_fd, SHUT_WR)); }
  void abortRead() override { ::shutdown(m_fd, SHUT_RD); }

  void getsockopt(int level, int option, void* value, kj::uint* length) override {
    socklen_t size = *length;
    KJ_SYSCALL(::getsockopt(m_fd, level, option, value, &size));
    *length = size;
  }
  kj::Maybe<int> getFd() const override { return m_fd.get(); }

 private:
  // Fills `out` with at least `minBytes` (fewer at the end of the stream), at most `maxBytes`.
  kj::Promise<size_t> readInto(kj::byte* out, size_t minBytes, size_t maxBytes, size_t done) {
    for (;;) {
      const size_t held = std::min(m_end - m_begin, maxBytes);
      std::memcpy(out, m_buffer.begin() + m_begin, held);
      m_begin += held;
      out += held;
      done += held;
      maxBytes -= held;
      minBytes -= std::min(minBytes, held);
      if (minBytes == 0 || m_ended) return done;
      // The buffer is empty. A large read goes straight where it is wanted.
      const bool direct = maxBytes >= m_buffer.size();
      kj::byte* into = direct ? out : m_buffer.begin();
      const size_t room = direct ? maxBytes : m_buffer.size();
      ssize_t got;
      do {
        got = ::recv(m_fd, into, room, 0);
      } while (got < 0 && errno == EINTR);
      if (got < 0) {
        const int error = errno;
        if (error != EAGAIN && error != EWOULDBLOCK) KJ_FAIL_SYSCALL("recv", error);
        // Only after the socket was found empty in this turn may the loop wait for its edge.
        return m_readable.whenBecomesReadable().then([this, out, minBytes, maxBytes, done] {
          return readInto(out, minBytes, maxBytes, done);
        });
      }
      if (got == 0) {
        m_ended = true;
        return done;
      }
      if (direct) {
        out += got;
        done += size_t(got);
        maxBytes -= size_t(got);
        minBytes -= std::min(minBytes, size_t(got));
      } else {
        m_begin = 0;
        m_end = size_t(got);
      }
    }
  }

  // Sends from piece `index`, byte `offset` on; true once all went, false when the socket is
  // full (then `index` and `offset` say where to go on).
  bool send(kj::ArrayPtr<const Piece> pieces, size_t& index, size_t& offset) {
    for (;;) {
      while (index < pieces.size() && offset == pieces[index].size()) {
        ++index;
        offset = 0;
      }
      if (index == pieces.size()) return true;
      iovec vectors[kMaxPiecesPerSend];
      size_t count = 0;
      for (size_t i = index; i < pieces.size() && count < kMaxPiecesPerSend; ++i) {
        const size_t skip = i == index ? offset : 0;
        if (pieces[i].size() == skip) continue;
        vectors[count].iov_base = const_cast<kj::byte*>(pieces[i].begin() + skip);
        vectors[count].iov_len = pieces[i].size() - skip;
        ++count;
      }
      msghdr message{};
      message.msg_iov = vectors;
      message.msg_iovlen = count;
      ssize_t sent;
      do {
        sent = ::sendmsg(m_fd, &message, MSG_NOSIGNAL);
      } while (sent < 0 && errno == EINTR);
      if (sent < 0) {
        const int error = errno;
        if (error == EAGAIN || error == EWOULDBLOCK) return false;
        KJ_FAIL_SYSCALL("sendmsg", error);
      }
      for (size_t left = size_t(sent); left > 0;) {
        const size_t step = std::min(left, pieces[index].size() - offset);
        offset += step;
        left -= step;
        if (offset == pieces[index].size() && left > 0) {
          ++index;
          offset = 0;
        }
      }
    }
  }

  kj::Promise<void> sendWhenWritable(kj::Array<Piece> pieces, size_t offset) {
    if (!m_writable) {
      // A second descriptor of the same socket, watched for room alone, and only while needed:
      // the reading watch cannot change what it watches.
      m_writeFd = kj::AutoCloseFd(::fcntl(m_fd, F_DUPFD_CLOEXEC, 0));
      if (m_writeFd.get() < 0) KJ_FAIL_SYSCALL("fcntl(F_DUPFD_CLOEXEC)", errno);
      m_writable = kj::heap<Observer>(m_port, m_writeFd.get(), Observer::OBSERVE_WRITE);
    }
    return m_writable->whenBecomesWritable().then(
        [this, pieces = kj::mv(pieces), offset]() mutable -> kj::Promise<void> {
          size_t index = 0;
          if (send(pieces, index, offset)) {
            m_writable = nullptr;
            m_writeFd = nullptr;
            return kj::READY_NOW;
          }
          return sendWhenWritable(kj::heapArray(pieces.slice(index, pieces.size())), offset);
        });
  }

  kj::UnixEventPort& m_port;
  kj::AutoCloseFd m_fd;  // closed after the watches on it are gone
  Observer m_readable;
  kj::AutoCloseFd m_writeFd;
  kj::Own<Observer> m_writable;
  kj::Array<kj::byte> m_buffer;
  size_t m_begin = 0, m_end = 0;  // what the buffer holds that was not yet read
  bool m_ended = false;
};

}  // namespace

kj::Own<kj::AsyncIoStream> socketStream(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
    const int error = errno;
    ::close(fd);
    KJ_FAIL_SYSCALL("fcntl(O_NONBLOCK)", error);
  }
  return kj::heap<SocketStream>(Runtime::get().io().unixEventPort, fd);
}

}  // namespace velt::remoting
