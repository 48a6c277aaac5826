#include "telnet/workerthread.h"

#include <exception>

#include "core/exceptions.h"

TWorkerThread::~TWorkerThread() {
    Join();
}

void TWorkerThread::Start() {
    thread_ = std::thread([this] { Execute(); });
}

void TWorkerThread::Join() {
    if (thread_.joinable())
        thread_.join();
}

QString TWorkerThread::ErrorMessage() const {
    std::lock_guard<std::mutex> lk(m_);
    return error_;
}

void TWorkerThread::Execute() {
    try {
        while (!stop_)
            Run();
    } catch (const Exception& e) {
        std::lock_guard<std::mutex> lk(m_);
        error_ = e.Message();
    } catch (const std::exception& e) {
        std::lock_guard<std::mutex> lk(m_);
        error_ = QString::fromLocal8Bit(e.what());
    }
    stop_ = true;
    finished_ = true;
}
