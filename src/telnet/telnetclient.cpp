#include "telnet/telnetclient.h"

#include <exception>
#include <system_error>

#include "core/guicall.h"
#include "telnet/telneterrors.h"

void TTelnetReadThread::Run() {
    client_->ReadPass(this);
}

TTelnetClient::TTelnetClient() {
    Port = 23;
}

TTelnetClient::~TTelnetClient() {
    // The thread goes before anything it uses; the base then shuts the socket down and closes
    // it. No event is raised from here: the owner is going away. A send of the thread blocked
    // on a peer that takes nothing fails at once.
    if (reader_)
        InterruptSending();
    StopReader();
}

void TTelnetClient::StopReader() {
    if (!reader_)
        return;
    reader_->Terminate();
    guiCall_->Shutdown();  // a hand-over waiting now or later returns without running
    WakeReader();          // a wait on the socket returns
    reader_->Join();
    lastReaderError_ = reader_->ErrorMessage();
    reader_.reset();
    guiCall_.reset();
    DetachReader();  // the descriptor of a closed connection can go now
}

void TTelnetClient::ReapReader() {
    if (reader_ && reader_->Finished())
        StopReader();
}

void TTelnetClient::RaiseDisconnected() {
    if (TakeDisconnectNotice() && OnDisconnected)
        OnDisconnected(this);
}

void TTelnetClient::Connect() {
    if (OnConnect)
        OnConnect();
    if (SocketOpen())
        throw EAlreadyConnected();
    // A thread left from an earlier connection (stopped by Disconnect, perhaps still waiting
    // in a hand-over) ends before its descriptor is replaced.
    StopReader();
    filter_.Reset();
    filter_.SetTerminal(Terminal);
    peerIsTelnet_ = false;
    try {
        TTcpClient::Connect();
        if (SocketOpen()) {
            guiCall_ = std::make_unique<TGuiCall>();
            reader_ = std::make_unique<TTelnetReadThread>(this);
            AttachReader();
            try {
                reader_->Start();
            } catch (const std::system_error& e) {
                reader_.reset();
                guiCall_.reset();
                CloseSocket();
                DetachReader();
                throw ESocketError(e.code().value(), QString::fromLocal8Bit(e.what()));
            }
        }
    } catch (const ESocketError& e) {
        throw ETelnetConnectError(e.Text());
    }
}

void TTelnetClient::Disconnect() {
    if (reader_) {
        reader_->Terminate();
        WakeReader();
        InterruptSending();
    }
    peerIsTelnet_ = false;
    CloseSocket();
    ReapReader();
    RaiseDisconnected();
    if (OnDisconnect)
        OnDisconnect();
}

bool TTelnetClient::IsConnected() {
    ReapReader();
    if (ClosedByPeer() || !SocketOpen()) {
        CloseSocket();
        RaiseDisconnected();
    }
    return SocketOpen();
}

void TTelnetClient::SendChars(const QByteArray& text) {
    const bool telnet = peerIsTelnet_.load();
    QByteArray wire;
    wire.reserve(text.size() * 2);
    for (char c : text)
        wire += telnet::WireBytes(static_cast<unsigned char>(c), telnet);
    try {
        Write(wire);
    } catch (const Exception&) {
        RaiseDisconnected();  // when the failure closed the connection
        throw;
    }
}

QString TTelnetClient::ReadThreadError() const {
    if (reader_)
        return reader_->Finished() ? reader_->ErrorMessage() : QString();
    return lastReaderError_;
}

int TTelnetClient::PendingHandOvers() const {
    return guiCall_ ? guiCall_->WaitingWorkers() : 0;
}

bool TTelnetClient::HandOver(std::function<void()> fn) {
    return guiCall_->Call(std::move(fn));
}

bool TTelnetClient::ReceiveStep() {
    switch (WaitReadable()) {
        case WaitResult::Woken:  // a stop request: end without handing anything over
            return false;
        case WaitResult::Failed:  // counts as nothing received
            break;
        case WaitResult::Readable: {
            int n = 0;
            try {
                n = ReceiveOnce();
            } catch (const ESocketError&) {
                // A broken connection: nothing more will come, and is-connected must say so.
                CloseSocket();
                throw;
            }
            if (n == 0 && CloseSocket() && TakeDisconnectNotice()) {
                return HandOver([this] {
                    if (OnDisconnected)
                        OnDisconnected(this);
                });
            }
            break;
        }
    }
    return true;
}

bool TTelnetClient::HandOverData(const QByteArray& data) {
    auto nil = std::make_shared<bool>(false);
    const bool ran = HandOver([this, data, nil] {
        if (!OnDataAvailable) {
            *nil = true;
            return;
        }
        // A copy: the handler may release this client, and with it OnDataAvailable.
        const TTnDataAvail handler = OnDataAvailable;
        try {
            handler(this, data);
        } catch (...) {
            // An error of the owner's handler must not cross the event loop; the owner's own
            // waits report what went missing.
        }
    });
    if (!ran)
        return false;
    if (*nil)
        throw EOnDataAvailableIsNil();
    return true;
}

void TTelnetClient::ReadPass(TTelnetReadThread* thread) {
    // 1. Receive once, when a socket is open.
    if (SocketOpen() && !ReceiveStep()) {
        thread->Terminate();
        return;
    }

    // 2.-3. The whole input is this pass's chunk; the filter's answers go out first.
    const TTelnetFilter::Result r = filter_.Feed(TakeInput());
    if (r.sawIac)
        peerIsTelnet_ = true;
    // A failed answer (a peer that has just reset) ends the thread, but only after the data
    // that came with the request has been handed over: that data arrived and must not be lost.
    std::exception_ptr answerFailure;
    try {
        for (const QByteArray& answer : r.answers)
            Write(answer);
    } catch (const Exception&) {
        answerFailure = std::current_exception();
    }

    // 4. The data part, also when empty, runs the owner's handler; we wait for it.
    if (!HandOverData(r.data)) {  // the client is being released
        thread->Terminate();
        return;
    }
    if (answerFailure)
        std::rethrow_exception(answerFailure);

    // 5. A closed connection ends the thread once its last data has been handed over.
    if (ClosedByPeer() || !SocketOpen()) {
        CloseSocket();
        if (InputEmpty())
            throw EConnClosedGracefully();
    }
}
