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
      : context_(context),
        ns_(ComPtr<IWbemServices>::share(ns)),
        sink_(std::move(sink)),
        eventClass_(std::move(eventClass)),
        deadline_(deadline),
        format_(makeFormatter(context.format, Shape::kStream, context.console)) {
    thread_ = std::thread([this] { run(); });
  }
  ~EventWatch() override { stop(); }

  int wait() override {
    if (thread_.joinable()) thread_.join();
    return finish();
  }
  bool openEnded() const override { return !deadline_; }
  int stop() override {
    stopping_ = true;
    return wait();
  }

 private:
  void run() {
    std::size_t events = 0;
    // The end is checked before every event, not only when none came: a provider that fires
    // without pause would otherwise keep the watch printing for ever.
    while (!stopping_ && !interrupted() && !(deadline_ && Clock::now() >= *deadline_)) {
      Clock::time_point until = Clock::now() + std::chrono::milliseconds(100);
      if (deadline_ && *deadline_ < until) until = *deadline_;
      ComPtr<IWbemClassObject> event;
      HRESULT status = WBEM_S_NO_ERROR;
      ResultSink::Next next = sink_->next(event, status, until);
      if (next == ResultSink::Next::kObject) {
        format_->object(viewOf(event.get()));
        context_.console.showCount(++events);
      } else if (next == ResultSink::Next::kDone) {
        endStatus_ = status;
        return;
      } else if (context_.session.serviceLost()) {
        endStatus_ = RPC_E_DISCONNECTED;  // no event will come any more
        return;
      }
    }
  }

  int finish() {
    if (finished_.exchange(true)) return exitCode_;
    if (!endStatus_) ns_->CancelAsyncCall(sink_.get());
    format_->end();
    {
      std::lock_guard<std::mutex> lock(context_.console.mutex);
      context_.console.clearCounterLocked();
    }
    if (std::size_t dropped = sink_->dropped()) {
      context_.console.message(label() + ": " + std::to_string(dropped) +
                               (dropped == 1 ? " event" : " events") +
                               " dropped: they came faster than they could be printed");
    }
    if (endStatus_ && FAILED(*endStatus_) && *endStatus_ != WBEM_E_CALL_CANCELLED) {
      context_.console.message(context_.session.failureText(label(), *endStatus_));
      exitCode_ = kExitRequestFailed;
    }
    return exitCode_;
  }

  std::string label() const { return isEventQuery(eventClass_) ? "watch" : "watch " + eventClass_; }

  CommandContext context_;  // a copy: a batch line's context ends before its watch
  ComPtr<IWbemServices> ns_;
  ComPtr<ResultSink> sink_;
  std::string eventClass_;
  std::optional<Clock::time_point> deadline_;
  std::unique_ptr<Formatter> format_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> finished_{false};
  std::optional<HRESULT> endStatus_;  // written by the thread, read after the join
  int exitCode_ = kExitOk;
  std::thread thread_;
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
