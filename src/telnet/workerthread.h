// A thread with a stop request, running the run step repeatedly until a stop is requested. An
// error thrown by the step ends the thread quietly: its message is kept (ErrorMessage) and the
// stop request is set.
//
// Thread rules: the owner starts, terminates and joins the thread and must join it before it
// destroys anything the step uses (the destructor joins as a last resort, after the derived
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
    // The thread has left its run step (it may still need joining).
    bool Finished() const { return finished_.load(); }
    void Join();
    // The message of the error that ended the thread; empty when it ended on a stop request.
    QString ErrorMessage() const;

  protected:
    virtual void Run() = 0;

  private:
    void Execute();

    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> finished_{false};
    mutable std::mutex m_;
    QString error_;
};
