// watch: subscribes to an event class (or an event query) and prints each event as the provider
// fires it.
#include <atomic>
#include <thread>

#include "commands.h"
#include "interrupt.h"
#include "request.h"
#include "wait_time.h"

namespace veltwmi {
namespace {

using Clock = std::chrono::steady_clock;

class EventWatch final : public Watch {
 public:
  EventWatch(CommandContext& context, IWbemServices* ns, ComPtr<ResultSink> sink,
             std::string eventClass, std::optional<Clock::time_point> deadline)
      : m_context(context),
        m_ns(ComPtr<IWbemServices>::share(ns)),
        m_sink(std::move(sink)),
        m_eventClass(std::move(eventClass)),
        m_deadline(deadline),
        m_format(makeFormatter(context.format, Shape::kStream, context.console)) {
    m_thread = std::thread([this] { run(); });
  }
  ~EventWatch() override { stop(); }

  int wait() override {
    if (m_thread.joinable()) m_thread.join();
    return finish();
  }
  bool openEnded() const override { return !m_deadline; }
  int stop() override {
    m_stopping = true;
    return wait();
  }

 private:
  void run() {
    std::size_t events = 0;
    // The end is checked before every event, not only when none came: a provider that fires
    // without pause would otherwise keep the watch printing for ever.
    while (!m_stopping && !interrupted() && !(m_deadline && Clock::now() >= *m_deadline)) {
      Clock::time_point until = Clock::now() + std::chrono::milliseconds(100);
      if (m_deadline && *m_deadline < until) until = *m_deadline;
      ComPtr<IWbemClassObject> event;
      HRESULT status = WBEM_S_NO_ERROR;
      ResultSink::Next next = m_sink->next(event, status, until);
      if (next == ResultSink::Next::kObject) {
        m_format->object(viewOf(event.get()));
        m_context.console.showCount(++events);
      } else if (next == ResultSink::Next::kDone) {
        m_endStatus = status;
        return;
      } else if (m_context.session.serviceLost()) {
        m_endStatus = RPC_E_DISCONNECTED;  // no event will come any more
        return;
      }
    }
  }

  int finish() {
    if (m_finished.exchange(true)) return m_exitCode;
    if (!m_endStatus) m_ns->CancelAsyncCall(m_sink.get());
    m_format->end();
    {
      std::lock_guard<std::mutex> lock(m_context.console.mutex);
      m_context.console.clearCounterLocked();
    }
    if (std::size_t dropped = m_sink->dropped()) {
      m_context.console.message(label() + ": " + std::to_string(dropped) +
                                (dropped == 1 ? " event" : " events") +
                                " dropped: they came faster than they could be printed");
    }
    if (m_endStatus && FAILED(*m_endStatus) && *m_endStatus != WBEM_E_CALL_CANCELLED) {
      m_context.console.message(m_context.session.failureText(label(), *m_endStatus));
      m_exitCode = kExitRequestFailed;
    }
    return m_exitCode;
  }

  std::string label() const {
    return isEventQuery(m_eventClass) ? "watch" : "watch " + m_eventClass;
  }

  CommandContext m_context;  // a copy: a batch line's context ends before its watch
  ComPtr<IWbemServices> m_ns;
  ComPtr<ResultSink> m_sink;
  std::string m_eventClass;
  std::optional<Clock::time_point> m_deadline;
  std::unique_ptr<Formatter> m_format;
  std::atomic<bool> m_stopping{false};
  std::atomic<bool> m_finished{false};
  std::optional<HRESULT> m_endStatus;  // written by the thread, read after the join
  int m_exitCode = kExitOk;
  std::thread m_thread;
};

}  // namespace

std::unique_ptr<Watch> startWatch(const Command& command, CommandContext& context) {
  const std::string& operand = command.operands.at(0);
  IWbemServices* ns = context.session.nameSpace(context.nameSpace);
  // An event query is the service's to check; a class name is checked here, so that a
  // misspelt one is a usage fault.
  bool asQuery = isEventQuery(operand);
  if (!asQuery) context.session.classObject(ns, operand);
  std::string label = asQuery ? "watch" : "watch " + operand;
  ComPtr<ResultSink> sink = ResultSink::create(kWatchQueueLimit);
  UniqueBstr language = bstrFromUtf16(u"WQL");
  UniqueBstr query = bstrFromUtf8(asQuery ? operand : "select * from " + operand);
  HRESULT hr = ns->ExecNotificationQueryAsync(language.get(), query.get(), 0, nullptr, sink.get());
  if (hr == WBEM_E_INVALID_QUERY) {
    ComPtr<IWbemClassObject> status = sink->statusObject();
    std::string detail = extendedStatusText(status.get());
    OwnedVariant description;
    if (status) status->Get(u"Description", 0, description.get(), nullptr, nullptr);
    std::string said = description.get()->vt == VT_BSTR ? utf8FromUtf16(description.get()->bstrVal)
                                                        : std::string();
    throw usageError(label + ": " + describeStatus(hr) + detail +
                     caretUnder(operand, faultPosition(said)));
  }
  if (FAILED(hr)) throw Failure(kExitRequestFailed, context.session.failureText(label, hr));
  std::optional<Clock::time_point> deadline;
  if (command.forSeconds) deadline = deadlineAfter(*command.forSeconds);
  return std::make_unique<EventWatch>(context, ns, std::move(sink), operand, deadline);
}

int runWatch(const Command& command, CommandContext& context) {
  std::unique_ptr<Watch> watch = startWatch(command, context);
  return watch->wait();  // Ctrl-C is the expected end of an open-ended watch
}

}  // namespace veltwmi
