#include "core/guicall.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <atomic>
#include <memory>
#include <thread>

#include "core/replytimer.h"
#include "support/pump.h"

namespace {


TEST(GuiCall, RunsOnTheGuiThreadAndBlocksTheWorkerUntilDone) {
    TGuiCall call;
    const auto gui = std::this_thread::get_id();
    std::thread::id ranOn;
    int value = 0;  // written on the GUI thread, read by the worker after Call() returns
    std::atomic<bool> workerDone{false};
    int seenByWorker = -1;
    std::thread worker([&] {
        const bool ok = call.Call([&] {
            ranOn = std::this_thread::get_id();
            value = 42;
        });
        seenByWorker = ok ? value : -2;
        workerDone = true;
    });
    EXPECT_TRUE(PumpUntil([&] { return workerDone.load(); }));
    worker.join();
    EXPECT_EQ(ranOn, gui);
    EXPECT_EQ(seenByWorker, 42);
}

TEST(GuiCall, ShutdownReleasesAWaitingWorkerWithoutRunningTheCall) {
    auto call = std::make_unique<TGuiCall>();
    std::atomic<int> result{-1};
    bool ran = false;
    TGuiCall* raw = call.get();
    std::thread worker([&, raw] { result = raw->Call([&] { ran = true; }) ? 1 : 0; });
    while (call->WaitingWorkers() == 0)
        std::this_thread::yield();
    // Destroy before the GUI thread ever processes the posted call.
    call.reset();
    worker.join();
    EXPECT_EQ(result.load(), 0);
    QCoreApplication::processEvents();
    EXPECT_FALSE(ran);
}

TEST(GuiCall, ShutdownFromInsideTheCallReleasesTheWorker) {
    // A handler that closes its own link shuts the hand-over down and joins the worker while
    // the worker still waits for that very handler.
    auto call = std::make_unique<TGuiCall>();
    std::atomic<bool> workerDone{false};
    std::thread worker;
    bool joined = false;
    worker = std::thread([&] {
        call->Call([&] {
            call->Shutdown();
            worker.join();
            joined = true;
        });
        workerDone = true;
    });
    EXPECT_TRUE(PumpUntil([&] { return joined; }));
    EXPECT_TRUE(workerDone);
}

TEST(GuiCall, CallsAfterShutdownAreRefused) {
    TGuiCall call;
    call.Shutdown();
    bool ran = false;
    bool ok = true;
    std::thread worker([&] { ok = call.Call([&] { ran = true; }); });
    worker.join();
    QCoreApplication::processEvents();
    EXPECT_FALSE(ok);
    EXPECT_FALSE(ran);
}

TEST(GuiCall, ManyWorkersManyCallsWhileDestroyingRepeatedly) {
    for (int round = 0; round < 20; ++round) {
        auto call = std::make_unique<TGuiCall>();
        std::atomic<int> calls{0};
        std::atomic<bool> stop{false};
        int counter = 0;  // GUI thread only
        std::vector<std::thread> workers;
        TGuiCall* raw = call.get();
        for (int w = 0; w < 3; ++w) {
            workers.emplace_back([&, raw] {
                while (!stop && raw->Call([&] { ++counter; }))
                    ++calls;
            });
        }
        PumpUntil([&] { return calls.load() > 30; });
        call->Shutdown();
        stop = true;
        for (auto& t : workers)
            t.join();
        call.reset();
        EXPECT_GE(counter, calls.load());
    }
    QCoreApplication::processEvents();
}

}  // namespace
