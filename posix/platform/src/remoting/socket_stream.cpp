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
#include <kj/vector.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>

#include "runtime.h"

namespace velt::remoting {
namespace {

using Observer = kj::UnixEventPort::FdObserver;
using Piece = kj::ArrayPtr<const kj::byte>;

constexpr size_t kReadBuffer = size_t(64) << 10;
constexpr size_t kMaxPiecesPerSend = 64;
// Messages up to this size are copied and sent together once the loop has nothing else to do;
// larger ones go at once, taking what was copied before them along.
constexpr size_t kCopyLimit = size_t(16) << 10;
// How many times a send waits behind other events before it goes anyway.
constexpr int kIdleRounds = 8;

class SocketStream final : public kj::AsyncIoStream {
 public:
  SocketStream(kj::UnixEventPort& port, int fd)
      : m_port(port),
        m_fd(fd),
        m_readable(port, fd, Observer::OBSERVE_READ),
        m_buffer(kj::heapArray<kj::byte>(kReadBuffer)) {}

  ~SocketStream() noexcept(false) {
    // What was copied but not sent yet still goes, as far as the socket takes it now.
    if (!m_waitingForRoom) sendSome();
  }

  kj::Promise<size_t> tryRead(void* buffer, size_t minBytes, size_t maxBytes) override {
    return readInto(static_cast<kj::byte*>(buffer), minBytes, maxBytes, 0);
  }

  kj::Promise<void> write(const void* buffer, size_t size) override {
    Piece piece(static_cast<const kj::byte*>(buffer), size);
    return write(kj::arrayPtr(&piece, 1));
  }

  kj::Promise<void> write(kj::ArrayPtr<const Piece> pieces) override {
    KJ_IF_MAYBE (failure, m_failure) {
      return kj::cp(*failure);
    }
    size_t size = 0;
    for (const Piece& piece : pieces) size += piece.size();
    if (size <= kCopyLimit && !m_waitingForRoom) {
      if (m_queue.empty() || m_queue.back().sent.get() != nullptr) m_queue.emplace_back();
      for (const Piece& piece : pieces) m_queue.back().copied.addAll(piece);
      if (!m_flushScheduled) {
        m_flushScheduled = true;
        m_flush = whenIdle(kIdleRounds)
                      .then([this] {
                        m_flushScheduled = false;
                        sendQueued();
                      })
                      .eagerlyEvaluate(nullptr);
      }
      return kj::READY_NOW;
    }
    // The writer keeps its bytes until the promise settles, so they are not copied.
    auto pair = kj::newPromiseAndFulfiller<void>();
    Outgoing entry;
    entry.pieces = kj::heapArray(pieces);
    entry.sent = kj::mv(pair.fulfiller);
    m_queue.push_back(kj::mv(entry));
    sendQueued();
    return kj::mv(pair.promise);
  }

  kj::Promise<void> whenWriteDisconnected() override { return m_readable.whenWriteDisconnected(); }

  void shutdownWrite() override {
    // Only once what was written before has gone.
    m_shutdownWanted = true;
    sendQueued();
  }
  void abortRead() override { ::shutdown(m_fd, SHUT_RD); }

  void getsockopt(int level, int option, void* value, kj::uint* length) override {
    // The flow control asks for the buffer size before every streamed call; it does not change
    // unless set, and nothing here sets it.
    const bool bufferSize = level == SOL_SOCKET && option == SO_SNDBUF && *length == sizeof(int);
    if (bufferSize && m_sendBufferSize >= 0) {
      std::memcpy(value, &m_sendBufferSize, sizeof(int));
      return;
    }
    socklen_t size = *length;
    KJ_SYSCALL(::getsockopt(m_fd, level, option, value, &size));
    *length = size;
    if (bufferSize && size == sizeof(int)) std::memcpy(&m_sendBufferSize, value, sizeof(int));
  }
  kj::Maybe<int> getFd() const override { return m_fd.get(); }

 private:
  // What waits to be sent, in order: bytes copied from small messages, or a large message's
  // own pieces, whose writer waits until they went.
  struct Outgoing {
    kj::Vector<kj::byte> copied;
    kj::Array<Piece> pieces;
    kj::Own<kj::PromiseFulfiller<void>> sent;  // set for borrowed pieces
    size_t count() const { return sent.get() != nullptr ? pieces.size() : 1; }
    Piece at(size_t i) const { return sent.get() != nullptr ? pieces[i] : copied.asPtr(); }
  };
  enum class Sending { done, blocked, failed };

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

  // Resolves once the loop has run what else was waiting (or `rounds` times behind it).
  kj::Promise<void> whenIdle(int rounds) {
    return kj::evalLater([this, rounds]() -> kj::Promise<void> {
      if (rounds > 0 && Runtime::get().loopHasWork()) return whenIdle(rounds - 1);
      return kj::READY_NOW;
    });
  }

  void sendQueued() {
    if (m_waitingForRoom) return;  // that wait goes on from where the socket stopped
    if (sendSome() == Sending::blocked) {
      m_waitingForRoom = true;
      m_roomWait = sendWhenRoom().eagerlyEvaluate(nullptr);
    } else {
      shutDownWhenAllSent();
    }
  }

  void shutDownWhenAllSent() {
    if (m_shutdownWanted && m_queue.empty()) ::shutdown(m_fd, SHUT_WR);
  }

  kj::Promise<void> sendWhenRoom() {
    if (!m_writable) {
      // A second descriptor of the same socket, watched for room alone, and only while a send
      // waits: the reading watch cannot change what it watches.
      m_writeFd = kj::AutoCloseFd(::fcntl(m_fd, F_DUPFD_CLOEXEC, 0));
      if (m_writeFd.get() < 0) {
        fail(errno);
        return kj::READY_NOW;
      }
      m_writable = kj::heap<Observer>(m_port, m_writeFd.get(), Observer::OBSERVE_WRITE);
    }
    return m_writable->whenBecomesWritable().then([this]() -> kj::Promise<void> {
      if (sendSome() == Sending::blocked) return sendWhenRoom();
      m_writable = nullptr;
      m_writeFd = nullptr;
      m_waitingForRoom = false;
      shutDownWhenAllSent();
      return kj::READY_NOW;
    });
  }

  // Sends from the front of the queue until it is empty or the socket is full.
  Sending sendSome() {
    while (!m_queue.empty()) {
      iovec vectors[kMaxPiecesPerSend];
      size_t count = 0;
      for (size_t e = 0; e < m_queue.size() && count < kMaxPiecesPerSend; ++e) {
        const Outgoing& entry = m_queue[e];
        for (size_t i = e == 0 ? m_frontPiece : 0; i < entry.count() && count < kMaxPiecesPerSend;
             ++i) {
          const Piece piece = entry.at(i);
          const size_t skip = e == 0 && i == m_frontPiece ? m_frontOffset : 0;
          if (piece.size() == skip) continue;
          vectors[count].iov_base = const_cast<kj::byte*>(piece.begin() + skip);
          vectors[count].iov_len = piece.size() - skip;
          ++count;
        }
      }
      ssize_t sent = 0;
      if (count > 0) {
        msghdr message{};
        message.msg_iov = vectors;
        message.msg_iovlen = count;
        do {
          sent = ::sendmsg(m_fd, &message, MSG_NOSIGNAL);
        } while (sent < 0 && errno == EINTR);
      }
      if (sent < 0) {
        const int error = errno;
        if (error == EAGAIN || error == EWOULDBLOCK) return Sending::blocked;
        fail(error);
        return Sending::failed;
      }
      consume(size_t(sent));
    }
    return Sending::done;
  }

  // Drops the first `bytes` sent from the queue; a borrowed message that went whole is done.
  void consume(size_t bytes) {
    while (!m_queue.empty()) {
      Outgoing& entry = m_queue.front();
      while (m_frontPiece < entry.count()) {
        const size_t size = entry.at(m_frontPiece).size();
        const size_t step = std::min(bytes, size - m_frontOffset);
        m_frontOffset += step;
        bytes -= step;
        if (m_frontOffset < size) return;
        ++m_frontPiece;
        m_frontOffset = 0;
      }
      if (entry.sent.get() != nullptr) entry.sent->fulfill();
      m_queue.pop_front();
      m_frontPiece = 0;
    }
  }

  // The connection is broken: later writes fail, and the reading side ends, so the peer's
  // loss is seen even when no write waits.
  void fail(int error) {
    kj::Exception failure(kj::Exception::Type::DISCONNECTED, __FILE__, __LINE__,
                          kj::str("sendmsg: ", std::strerror(error)));
    for (auto& entry : m_queue) {
      if (entry.sent.get() != nullptr) entry.sent->reject(kj::cp(failure));
    }
    m_queue.clear();
    m_frontPiece = m_frontOffset = 0;
    m_failure = kj::mv(failure);
    ::shutdown(m_fd, SHUT_RDWR);
  }

  kj::UnixEventPort& m_port;
  kj::AutoCloseFd m_fd;  // closed after the watches on it are gone
  Observer m_readable;
  kj::AutoCloseFd m_writeFd;
  kj::Own<Observer> m_writable;
  kj::Array<kj::byte> m_buffer;
  size_t m_begin = 0, m_end = 0;  // what the buffer holds that was not yet read
  bool m_ended = false;
  int m_sendBufferSize = -1;  // as the socket answered it, once asked
  std::deque<Outgoing> m_queue;
  size_t m_frontPiece = 0, m_frontOffset = 0;  // how far the front of the queue went
  kj::Maybe<kj::Exception> m_failure;
  bool m_flushScheduled = false;
  bool m_waitingForRoom = false;
  bool m_shutdownWanted = false;
  // Last, so they are cancelled before what they use goes.
  kj::Promise<void> m_flush = nullptr;
  kj::Promise<void> m_roomWait = nullptr;
};

}  // namespace

kj::Own<kj::AsyncIoStream> socketStream(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
    const int error = errno;
    ::close(fd);
    KJ_FAIL_SYSCALL("fcntl(O_NONBLOCK)", error);
  }
  return kj::heap<SocketStream>(Runtime::get().eventPort(), fd);
}

}  // namespace velt::remoting
