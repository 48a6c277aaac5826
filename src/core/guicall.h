// Synchronous calls from a worker thread into the GUI thread.
//
// Thread rules:
// - Construct, Shutdown() and destroy a TGuiCall on the GUI thread; Call() from worker threads.
// - Call() blocks its worker until the function has run on the GUI thread (the GUI thread runs
//   it whenever it processes events), or returns false without running it once Shutdown() has
//   been called, whether before the call or while the worker waits.
// - Shutdown() never waits for a worker, so the GUI thread may call it from inside a function
//   that a worker is waiting for (a handler that closes its own link) and then join the worker.
// - The state a waiting worker touches is shared and reference-counted: a worker still inside
//   Call() when the TGuiCall is destroyed touches nothing that has been released, and a
//   function handed over is never run after Shutdown().
// - Data passes between the threads under a std::mutex, so ThreadSanitizer sees every hand-over.
#pragma once

#include <functional>
#include <memory>

class TGuiCall {
  public:
    TGuiCall();
    ~TGuiCall();
    TGuiCall(const TGuiCall&) = delete;
    TGuiCall& operator=(const TGuiCall&) = delete;

    // Worker thread: runs `fn` on the GUI thread and waits for it. False when shut down.
    bool Call(std::function<void()> fn);
    // GUI thread: refuses later calls and releases every waiting worker with false.
    void Shutdown();
    // Workers blocked in Call() at this moment.
    int WaitingWorkers() const;

    struct State;

  private:
    std::shared_ptr<State> state_;
};
