// A thread with a stop request, running a before-run step once, then the run step repeatedly
// until a stop is requested, then an after-run step. An error thrown by any step ends the
// thread quietly: its message is kept (ErrorMessage) and the stop request is set.
//
// Thread rules: the owner starts, terminates and joins the thread and must join it before it
// destroys anything the steps use (the destructor joins as a last resort, after the derived
// part has gone, so a derived class joins in its own destructor). Terminate() and the queries
// may be called from any thread.
#pragma once

#include <QString>
#include <atomic>
#include <mutex>
#include <thread>

class TWorkerThread {
  public:
    TWorkerThread() = default;
    virtual ~TWorkerThread();
    TWorkerThread(const TWorkerThread&) = delete;
    TWorkerThread& operator=(const TWorkerThread&) = delete;

    void Start();
    // Sets the stop request; the run step then ends at its next return.
    void Terminate() { stop_ = true; }
    // The thread has left its steps (it may still need joining).
    bool Finished() const { return finished_.load(); }
    void Join();
    // The message of the error that ended the thread; empty when it ended on a stop request.
    QString ErrorMessage() const;

  protected:
    virtual void Run() = 0;
    virtual void AfterRun() {}
    virtual void BeforeRun() {}

  private:
    void Execute();

    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> finished_{false};
    mutable std::mutex m_;
    QString error_;
};
