#include "core/guicall.h"

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <unordered_set>

#include "core/posixio.h"

namespace {

struct Request;

}  // namespace

struct TGuiCall::State {
    std::mutex m;
    std::condition_variable cv;
    bool shut = false;
    QObject* pump = nullptr;               // set at construction, before any worker sees the state
    std::unordered_set<Request*> waiting;  // requests whose workers are blocked in Call()
};

namespace {

struct Request {
    std::function<void()> fn;
    std::shared_ptr<TGuiCall::State> state;
    bool finished = false;  // ran, or cancelled by Shutdown(); guarded by state->m
    bool ran = false;       // guarded by state->m
};

// The pump lives on the GUI thread for the life of the application. Workers wake it through
// an eventfd watched by a socket notifier, so that no Qt object is created on a worker thread;
// the requests themselves pass through the pump's own locked queue.
class Pump : public QObject {
  public:
    static Pump* Instance() {
        static QPointer<Pump> pump;
        if (!pump) {
            pump = new Pump;
            pump->setParent(QCoreApplication::instance());
        }
        return pump;
    }

    ~Pump() override { delete notifier_; }

    void Post(std::shared_ptr<Request> r) {
        {
            std::lock_guard<std::mutex> lk(qm_);
            queue_.push_back(std::move(r));
        }
        // The notifier is level-triggered on a non-zero counter.
        wake_.Signal();
    }

  private:
    Pump() {
        if (!wake_.Valid())
            qFatal("eventfd: %s", std::strerror(errno));
        notifier_ = new QSocketNotifier(wake_.Fd(), QSocketNotifier::Read);
        connect(notifier_, &QSocketNotifier::activated, this, [this] { Drain(); });
    }

    void Drain() {
        wake_.Drain();
        for (;;) {
            std::shared_ptr<Request> r;
            {
                std::lock_guard<std::mutex> lk(qm_);
                if (queue_.empty())
                    return;
                r = std::move(queue_.front());
                queue_.pop_front();
            }
            Run(*r);
        }
    }

    static void Run(Request& r) {
        {
            std::lock_guard<std::mutex> lk(r.state->m);
            // Cancelled by Shutdown(): the worker has gone; the function must not run.
            if (r.finished)
                return;
        }
        r.fn();  // Shutdown() runs on this thread too, so it cannot interleave with the check.
        {
            std::lock_guard<std::mutex> lk(r.state->m);
            r.finished = true;
            r.ran = true;
        }
        r.state->cv.notify_all();
    }

    TEventFd wake_;
    QSocketNotifier* notifier_ = nullptr;
    std::mutex qm_;
    std::deque<std::shared_ptr<Request>> queue_;
};

}  // namespace

TGuiCall::TGuiCall() : state_(std::make_shared<State>()) {
    state_->pump = Pump::Instance();  // created here, on the GUI thread
}

TGuiCall::~TGuiCall() {
    Shutdown();
}

bool TGuiCall::Call(std::function<void()> fn) {
    // From here on only the shared state is used: the TGuiCall may be destroyed while we wait.
    const std::shared_ptr<State> state = state_;
    auto r = std::make_shared<Request>();
    r->fn = std::move(fn);
    r->state = state;
    {
        std::lock_guard<std::mutex> lk(state->m);
        if (state->shut)
            return false;
        state->waiting.insert(r.get());
    }
    static_cast<Pump*>(state->pump)->Post(r);
    std::unique_lock<std::mutex> lk(state->m);
    state->cv.wait(lk, [&] { return r->finished; });
    state->waiting.erase(r.get());
    return r->ran;
}

int TGuiCall::WaitingWorkers() const {
    std::lock_guard<std::mutex> lk(state_->m);
    return static_cast<int>(state_->waiting.size());
}

void TGuiCall::Shutdown() {
    {
        std::lock_guard<std::mutex> lk(state_->m);
        state_->shut = true;
        for (Request* r : state_->waiting)
            r->finished = true;
    }
    state_->cv.notify_all();
}
