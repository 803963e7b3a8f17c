// Where the client writes: results to `out`, messages and the row counter to `err`. Watches
// in a batch write from their own threads, so every whole piece of output takes the lock.
#pragma once

#include <mutex>
#include <ostream>
#include <string>

namespace veltwmi {

struct Console {
  Console(std::ostream& results, std::ostream& messages, bool messagesOnTerminal)
      : out(results), err(messages), errIsTerminal(messagesOnTerminal) {}

  std::ostream& out;
  std::ostream& err;
  bool errIsTerminal = false;  // shows the running count of rows received
  std::mutex mutex;

  void message(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex);
    clearCounterLocked();
    err << "veltwmi: " << text << '\n' << std::flush;
  }
  // Rewrites the "N rows" line on a terminal; nothing otherwise.
  void showCount(std::size_t rows) {
    if (!errIsTerminal) return;
    std::lock_guard<std::mutex> lock(mutex);
    err << "\r" << rows << (rows == 1 ? " row" : " rows") << " received" << std::flush;
    counterShown = true;
  }
  void clearCounterLocked() {
    if (!counterShown) return;
    err << "\r\033[K" << std::flush;
    counterShown = false;
  }
  bool counterShown = false;
};

}  // namespace veltwmi
