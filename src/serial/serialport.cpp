#include "serial/serialport.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <system_error>

#include "core/guicall.h"
#include "core/inifile.h"

namespace {

const QString kMsgAlreadyOpen = QStringLiteral("ポートは、すでにオープンされています");
const QString kMsgOpen = QStringLiteral("ポートをオープンできませんでした");
const QString kMsgTransThread = QStringLiteral("送信用スレッドを生成できませんでした");
const QString kMsgReceiveThread = QStringLiteral("受信用スレッドを生成できませんでした");
const QString kMsgBitRate = QStringLiteral("通信速度の設定でエラーが発生しました");
const QString kMsgCharSize = QStringLiteral("通信ビット数の設定でエラーが発生しました");
const QString kMsgParity = QStringLiteral("通信パリティチェックの設定でエラーが発生しました");
const QString kMsgStopBit = QStringLiteral("通信ストップビット数の設定でエラーが発生しました");
const QString kMsgFlow = QStringLiteral("通信フロー制御の設定で失敗しました");
const QString kMsgTimeOut = QStringLiteral("通信タイムアウト時間の設定で失敗しました");
const QString kMsgXon = QStringLiteral("Ｘｏｎ文字の設定でエラーが発生しました");
const QString kMsgXoff = QStringLiteral("Ｘｏｆｆ文字の設定でエラーが発生しました");
const QString kMsgBuffer = QStringLiteral("通信用ポートのバッファを準備できませんでした");

// The largest buffer size accepted: far beyond any line's need, small enough to allocate.
constexpr int kMaxBufLen = 1 << 24;

// Raises or drops a modem line (TIOCM_RTS or TIOCM_DTR) and tells the probe.
void SwitchModemLine(int fd, int line, bool on, const TModemLineProbe& probe) {
    // A terminal without modem lines (a pseudo-terminal) refuses this; nothing depends on it.
    ::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line);
    if (probe)
        probe(line, on);
}

}  // namespace

QString ECommError::Cause() const {
    return errno_ == 0 ? QString()
                       : QStringLiteral("%1: %2").arg(QLatin1String(step_), ErrnoText(errno_));
}

// ---------------------------------------------------------------------------------------------
// What one open owns. Members are released in reverse order: the threads (already joined by
// PortClose) before the hand-over, the notifier before its descriptor, the device last.
struct TSerialDriver::Port {
    TUniqueFd dev;    // the device; holds its lock
    termios found{};  // the device's modes before the open, put back by the close
    TEventFd stopFd;  // signalled once by PortClose: wakes both threads for good
    TEventFd kickFd;  // ClearTransBuf wakes a write waiting for the device
    TEventFd wakeFd;  // room in the input queue again, or its size changed
    TEventFd roomFd;  // the transmit queue has room again: wakes the GUI thread
    std::unique_ptr<QSocketNotifier> roomNotifier;
    std::unique_ptr<TGuiCall> gui;
    std::unique_ptr<TSerialTransmitThread> trans;
    std::unique_ptr<TSerialReceiveThread> receive;
};

// ---------------------------------------------------------------------------------------------
// Both threads

void TSerialThread::Start() {
    thread_ = std::thread([this] { Execute(); });
}

void TSerialThread::Join() {
    if (thread_.joinable())
        thread_.join();
}

// ---------------------------------------------------------------------------------------------
// Transmit thread

TSerialTransmitThread::TSerialTransmitThread(TSerialDriver* owner, int fd, const TEventFd& stop,
                                             const TEventFd& kick, const TEventFd& room,
                                             TModemLineProbe probe)
    : TSerialThread(owner, fd, stop), kickFd_(kick), roomFd_(room), probe_(std::move(probe)) {}

TSerialTransmitThread::~TSerialTransmitThread() {
    Stop();
    Join();
}

void TSerialTransmitThread::Stop() {
    {
        // Under the queue lock, so that a thread about to wait for a block cannot miss it.
        std::lock_guard<std::mutex> lk(owner_->queueLock_);
        stop_ = true;
    }
    owner_->queueCv_.notify_all();
    stopFd_.Signal();
}

void TSerialTransmitThread::Execute() {
    std::vector<uint8_t> block;
    // Each pass of the outer loop is one batch: the blocks that follow each other without the
    // queue running empty. RTS is switched once around a batch.
    while (owner_->TakeBlock(&block, true, stop_)) {
        bool switched = false;
        do {
            if (!discard && !stop_) {
                if (!switched) {
                    HalfCtrlStart();
                    switched = true;
                }
                Write(block);
            }
            if (owner_->FinishBlock(static_cast<int>(block.size())))
                roomFd_.Signal();
        } while (owner_->TakeBlock(&block, false, stop_));
        if (switched && !stop_)
            HalfCtrlEnd();
    }
}

void TSerialTransmitThread::Write(const std::vector<uint8_t>& block) {
    const uint32_t limit = static_cast<uint32_t>(timeOutMs_.load());
    // The monotonic clock; only the GUI thread's waits run on a clock tests replace.
    TReplyTimer timer;
    timer.Start();
    size_t done = 0;
    while (done < block.size()) {
        if (discard || stop_)
            return;
        ssize_t n;
        {
            std::lock_guard<std::mutex> lk(owner_->writeLock_);
            n = ::write(fd_, block.data() + done, block.size() - done);
        }
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // The device has gone or fails (EIO after a hang-up): the block is dropped; the watch
        // thread reports the lost line.
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
            return;
        // The device's buffer is full (flow control holds the line): wait for room, at most
        // the write time-out from the start of the block, then drop what is left.
        int wait = -1;
        if (limit > 0) {
            wait = static_cast<int>(timer.RemainingMs(limit));
            if (wait == 0)
                return;
        }
        pollfd fds[3] = {{fd_, POLLOUT, 0}, {stopFd_.Fd(), POLLIN, 0}, {kickFd_.Fd(), POLLIN, 0}};
        if (::poll(fds, 3, wait) < 0 && errno != EINTR)
            return;
        if (fds[2].revents & POLLIN)
            kickFd_.Drain();
    }
}

void TSerialTransmitThread::Pause(int ms) {
    TReplyTimer timer;
    timer.Start();
    const auto limit = static_cast<uint32_t>(std::max(ms, 0));
    for (uint32_t left = limit; left > 0 && !stop_; left = timer.RemainingMs(limit)) {
        pollfd p{stopFd_.Fd(), POLLIN, 0};
        ::poll(&p, 1, static_cast<int>(left));
    }
}

void TSerialTransmitThread::HalfCtrlStart() {
    const TCommFlowCtrls flow = flow_;
    if (!linesettings::IsHalfDuplex(flow))
        return;
    Pause(50);
    SwitchModemLine(fd_, TIOCM_RTS, flow == cfcHalfHigh, probe_);
    Pause(charTimeMs_);
}

void TSerialTransmitThread::HalfCtrlEnd() {
    const TCommFlowCtrls flow = flow_;
    if (!linesettings::IsHalfDuplex(flow))
        return;
    // A write returns when the kernel holds the bytes; the line driver must stay switched until
    // the last of them has left the UART. An output purge (ClearTransBuf, PortClose) ends this.
    ::tcdrain(fd_);
    Pause(charTimeMs_);
    SwitchModemLine(fd_, TIOCM_RTS, flow != cfcHalfHigh, probe_);
}

// ---------------------------------------------------------------------------------------------
// Receive-watch thread

TSerialReceiveThread::TSerialReceiveThread(TSerialDriver* owner, int fd, const TEventFd& stop,
                                           const TEventFd& wake, TGuiCall* gui)
    : TSerialThread(owner, fd, stop), wakeFd_(wake), gui_(gui) {}

TSerialReceiveThread::~TSerialReceiveThread() {
    Stop();
    Join();
}

void TSerialReceiveThread::Stop() {
    stop_ = true;
    stopFd_.Signal();
}

bool TSerialReceiveThread::ReadCounters(linesettings::TLineCounters* c) const {
    serial_icounter_struct ic{};
    if (::ioctl(fd_, TIOCGICOUNT, &ic) != 0)
        return false;
    c->frame = ic.frame;
    c->overrun = ic.overrun;
    c->parity = ic.parity;
    c->brk = ic.brk;
    return true;
}

void TSerialReceiveThread::Execute() {
    TSerialDriver* const owner = owner_;
    // Terminals without line counters (a pseudo-terminal) report no line errors or breaks.
    linesettings::TLineCounters seen;
    const bool counters = ReadCounters(&seen);
    bool lost = false;
    uint8_t buf[4096];
    while (!stop_) {
        const int room = owner->InputRoom();
        // The device is left out while the input queue is full (the wake-up brings it back) and
        // after it has gone: a hung-up descriptor would report itself ready for ever.
        pollfd fds[3] = {{stopFd_.Fd(), POLLIN, 0}, {wakeFd_.Fd(), POLLIN, 0}, {-1, POLLIN, 0}};
        if (room > 0 && !lost)
            fds[2].fd = fd_;
        if (::poll(fds, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (stop_)
            break;
        if (fds[1].revents & POLLIN)
            wakeFd_.Drain();

        bool got = false;
        bool newlyLost = false;
        const short rev = fds[2].revents;
        if (rev & POLLIN) {
            const ssize_t n = ::read(fd_, buf, std::min<size_t>(sizeof buf, room));
            if (n > 0) {
                owner->PushInput(buf, static_cast<int>(n));
                got = true;
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                newlyLost = true;  // a hung-up terminal reads as end of file, a failing one EIO
            }
        } else if (rev & (POLLHUP | POLLERR | POLLNVAL)) {
            newlyLost = true;
        }
        if (newlyLost) {
            lost = true;
            owner->lineLost_ = true;
        }

        int bits = 0;
        bool brk = false;
        linesettings::TLineCounters now;
        if (got && counters && ReadCounters(&now)) {
            bits = linesettings::ErrorBits(seen, now);
            brk = now.brk != seen.brk;
            seen = now;
        }
        if (!Notify(bits, brk, got, newlyLost))
            break;
    }
}

// Runs on the GUI thread. The handler is called through a copy and nothing of the component is
// touched after it, so that a handler may close or delete the component.
template <typename Handler, typename... Args>
void TSerialDriver::Raise(const Handler& handler, Args... args) {
    if (!port_ || !handler || (... || (args == 0)))
        return;
    const Handler copy = handler;
    copy(this, args...);
}

bool TSerialReceiveThread::Notify(int bits, bool brk, bool got, bool lost) {
    TSerialDriver* const owner = owner_;
    // Each call blocks until the handler has run; false once the port is closing.
    if (bits && !gui_->Call([owner, bits] { owner->Raise(owner->onError_, bits); }))
        return false;
    if (brk && !gui_->Call([owner] { owner->Raise(owner->onBreak_); }))
        return false;
    if (got && !gui_->Call([owner] { owner->Raise(owner->onReceive_, owner->GetReceiveLength()); }))
        return false;
    if (lost && !gui_->Call([owner] { owner->Raise(owner->onLineLost_); }))
        return false;
    return true;
}

// ---------------------------------------------------------------------------------------------
// TSerialDriver

TSerialDriver::TSerialDriver(QObject* owner) : QObject(owner), modes_(new termios{}) {}

TSerialDriver::~TSerialDriver() {
    PortClose();
}

int TSerialDriver::Handle() const {
    return port_ ? port_->dev.Get() : -1;
}

QString TSerialDriver::DevicePath() const {
    if (!deviceOverride_.isEmpty())
        return deviceOverride_;
    return linesettings::DevicePath(
        portNo_, iniPath_.isEmpty() ? IniPathForExecutable(QCoreApplication::applicationFilePath())
                                    : iniPath_);
}

namespace {

// Opens the terminal at `path` for this port alone and reads its modes into `modes`. A failed
// step throws ECommError naming it, and the descriptor is closed again.
TUniqueFd OpenExclusive(const QString& path, termios* modes) {
    // Non-blocking: the open must not wait for a carrier, and every later wait is our own,
    // bounded by a time-out or a wake-up.
    TUniqueFd dev(
        ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!dev.Valid())
        throw ECommError(kMsgOpen, "open", errno);
    // Exclusive: another open of this device, in this program or another, holds the lock; the
    // operator is told the device is busy.
    if (::flock(dev.Get(), LOCK_EX | LOCK_NB) != 0)
        throw ECommError(kMsgOpen, "flock", errno == EWOULDBLOCK ? EBUSY : errno);
    // Only a terminal is a serial port.
    if (::tcgetattr(dev.Get(), modes) != 0)
        throw ECommError(kMsgOpen, "tcgetattr", errno);
    // Keeps out programs that open the terminal without locking it (root excepted).
    if (::ioctl(dev.Get(), TIOCEXCL) != 0)
        throw ECommError(kMsgOpen, "TIOCEXCL", errno);
    return dev;
}

}  // namespace

void TSerialDriver::PortOpen() {
    if (port_)
        throw ECommError(kMsgAlreadyOpen);

    const QString path = DevicePath();
    if (path.isEmpty())
        throw ECommError(kMsgOpen, "device", ENODEV);
    termios modes{};
    TUniqueFd dev = OpenExclusive(path, &modes);

    port_ = std::make_unique<Port>();
    port_->dev = std::move(dev);
    port_->found = modes;
    ++openCount_;
    lineLost_ = false;

    // From here on a failure closes the port again before it reaches the caller.
    try {
        SetBufferLength();
        // Nothing sent or received before this open belongs to it.
        ::tcflush(port_->dev.Get(), TCIOFLUSH);
        // The device's modes are the starting point; every setting is then applied in turn,
        // so that a refused one is reported by its own message.
        *modes_ = modes;
        record_ = linesettings::FromTermios(modes);
        SetBitRate(props_.bitRate);
        SetCharSize(props_.charSize);
        SetParityBit(props_.parity);
        SetStopBit(props_.stop);
        SetFlowCtrl(props_.flow);
        SetTimeOut();
        SetXonChar(props_.xon);
        SetXoffChar(props_.xoff);
        ThreadCreate();
    } catch (...) {
        PortClose();
        throw;
    }
}

void TSerialDriver::ThreadCreate() {
    Port& p = *port_;
    for (const TEventFd* fd : {&p.stopFd, &p.kickFd, &p.roomFd}) {
        if (!fd->Valid())
            throw ECommError(kMsgTransThread, "eventfd", fd->Error());
    }
    // A finished block wakes a TransBlock waiting for room through the GUI event loop.
    p.roomNotifier = std::make_unique<QSocketNotifier>(p.roomFd.Fd(), QSocketNotifier::Read);
    const TEventFd* room = &p.roomFd;
    QObject::connect(p.roomNotifier.get(), &QSocketNotifier::activated, p.roomNotifier.get(),
                     [room] { room->Drain(); });
    p.trans = std::make_unique<TSerialTransmitThread>(this, p.dev.Get(), p.stopFd, p.kickFd,
                                                      p.roomFd, probe_);
    p.trans->SetCharTime(linesettings::CharTimeMs(props_.bitRate));
    p.trans->SetFlow(props_.flow);
    p.trans->SetTimeOut(timeOutTrans_);
    try {
        p.trans->Start();
    } catch (const std::system_error& e) {
        p.trans.reset();
        throw ECommError(kMsgTransThread, "thread", e.code().value());
    }

    if (!p.wakeFd.Valid())
        throw ECommError(kMsgReceiveThread, "eventfd", p.wakeFd.Error());
    p.gui = std::make_unique<TGuiCall>();
    p.receive =
        std::make_unique<TSerialReceiveThread>(this, p.dev.Get(), p.stopFd, p.wakeFd, p.gui.get());
    try {
        p.receive->Start();
    } catch (const std::system_error& e) {
        p.receive.reset();
        throw ECommError(kMsgReceiveThread, "thread", e.code().value());
    }
}

void TSerialDriver::PortClose() {
    if (!port_)
        return;
    SetModemLine(TIOCM_DTR, false);
    SetModemLine(TIOCM_RTS, false);
    ClearTransBuf();
    ClearReceiveBuf();

    // From here the port counts as closed: a handler still running sees it so.
    std::unique_ptr<Port> p = std::move(port_);
    if (p->trans)
        p->trans->Stop();
    if (p->receive)
        p->receive->Stop();
    // Releases a watch thread waiting for the GUI thread (we may be inside its handler now);
    // the function it handed over never runs.
    if (p->gui)
        p->gui->Shutdown();
    if (p->trans)
        p->trans->Join();
    if (p->receive)
        p->receive->Join();
    p->trans.reset();
    p->receive.reset();
    // The device as it was found, for whoever opens it next (another program, a getty).
    ::tcsetattr(p->dev.Get(), TCSANOW, &p->found);
    ::ioctl(p->dev.Get(), TIOCNXCL);
    p.reset();

    // Both queues are left empty for the next open.
    {
        std::lock_guard<std::mutex> lk(queueLock_);
        blocks_.clear();
        pendingBytes_ = 0;
        queuedBlocks_ = 0;
        writingBlock_ = 0;
        guiWaitsForRoom_ = false;
    }
    std::lock_guard<std::mutex> lk(inputLock_);
    input_.clear();
}

// ---- line settings --------------------------------------------------------------------------

void TSerialDriver::ApplyRecord(const QString& message) {
    if (!linesettings::RecordValid(record_))
        throw ECommError(message);
    const int fd = port_->dev.Get();
    const termios want = linesettings::ToTermios(*modes_, record_);
    if (::tcsetattr(fd, TCSANOW, &want) != 0)
        throw ECommError(message, "tcsetattr", errno);
    // tcsetattr succeeds when any part was taken: read back what the device really does.
    termios got{};
    if (::tcgetattr(fd, &got) != 0)
        throw ECommError(message, "tcgetattr", errno);
    constexpr tcflag_t kLine = CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS;
    if ((got.c_cflag & kLine) != (want.c_cflag & kLine) ||
        cfgetospeed(&got) != cfgetospeed(&want) ||
        (got.c_iflag & (IXON | IXOFF)) != (want.c_iflag & (IXON | IXOFF)))
        throw ECommError(message);
    *modes_ = got;
}

void TSerialDriver::ApplyRestLines() {
    const linesettings::TRestLines rest = linesettings::RestLines(record_.flow);
    SetModemLine(TIOCM_DTR, rest.dtr);
    SetModemLine(TIOCM_RTS, rest.rts);
}

void TSerialDriver::SetModemLine(int line, bool on) {
    if (port_)
        SwitchModemLine(port_->dev.Get(), line, on, probe_);
}

void TSerialDriver::SetPortNo(int value) {
    portNo_ = value;
    if (!port_)
        return;
    PortClose();
    PortOpen();
}

template <typename T>
bool TSerialDriver::SetLineProperty(T TLineRecord::*field, T value, const QString& message) {
    props_.*field = value;
    if (!port_)
        return false;
    record_.*field = value;
    ApplyRecord(message);
    return true;
}

void TSerialDriver::SetBitRate(int value) {
    if (SetLineProperty(&TLineRecord::bitRate, value, kMsgBitRate) && port_->trans)
        port_->trans->SetCharTime(linesettings::CharTimeMs(value));
}

void TSerialDriver::SetCharSize(int value) {
    SetLineProperty(&TLineRecord::charSize, value, kMsgCharSize);
}

void TSerialDriver::SetParityBit(TCommParityBits value) {
    SetLineProperty(&TLineRecord::parity, value, kMsgParity);
}

void TSerialDriver::SetStopBit(TCommStopBits value) {
    SetLineProperty(&TLineRecord::stop, value, kMsgStopBit);
}

void TSerialDriver::SetFlowCtrl(TCommFlowCtrls value) {
    if (!SetLineProperty(&TLineRecord::flow, value, kMsgFlow))
        return;
    ApplyRestLines();
    if (port_->trans)
        port_->trans->SetFlow(value);
}

void TSerialDriver::SetTimeOutTrans(int value) {
    timeOutTrans_ = value;
    if (port_)
        SetTimeOut();
}

void TSerialDriver::SetTimeOutReceive(int value) {
    timeOutReceive_ = value;
    if (port_)
        SetTimeOut();
}

void TSerialDriver::SetTimeOut() {
    if (timeOutTrans_ < 0 || timeOutReceive_ < 0)
        throw ECommError(kMsgTimeOut);
    // ReceiveBlock reads timeOutReceive_ itself; the transmit thread keeps its own copy.
    if (port_ && port_->trans)
        port_->trans->SetTimeOut(timeOutTrans_);
}

void TSerialDriver::SetXonChar(char value) {
    SetLineProperty(&TLineRecord::xon, value, kMsgXon);
}

void TSerialDriver::SetXoffChar(char value) {
    SetLineProperty(&TLineRecord::xoff, value, kMsgXoff);
}

void TSerialDriver::SetBufLenTrans(int value) {
    bufLenTrans_ = value;
    if (port_)
        SetBufferLength();
}

void TSerialDriver::SetBufLenReceive(int value) {
    bufLenReceive_ = value;
    if (!port_)
        return;
    SetBufferLength();
    ApplyRecord(kMsgFlow);
}

void TSerialDriver::SetBufferLength() {
    if (bufLenTrans_ < 1 || bufLenTrans_ > kMaxBufLen || bufLenReceive_ < 1 ||
        bufLenReceive_ > kMaxBufLen)
        throw ECommError(kMsgBuffer);
    blockSize_ = bufLenTrans_;
    {
        std::lock_guard<std::mutex> lk(inputLock_);
        inputCapacity_ = bufLenReceive_;
    }
    // The watch thread may now have room where it had none.
    if (port_)
        port_->wakeFd.Signal();
}

// ---- transmission ---------------------------------------------------------------------------

bool TSerialDriver::TransBlock(const void* data, int count) {
    if (count == 0)
        return true;
    if (!data || count < 0)
        return false;
    const auto* p = static_cast<const uint8_t*>(data);
    int left = count;
    while (left > 0) {
        if (!port_ || !port_->trans || lineLost_)
            return false;
        bool full;
        {
            std::lock_guard<std::mutex> lk(queueLock_);
            full = queuedBlocks_ >= kMaxQueuedBlocks;
            if (full)
                guiWaitsForRoom_ = true;
        }
        if (full) {
            // Woken by the transmit thread when a block is done; the port may close meanwhile.
            WaitForEvents(1000);
            continue;
        }
        const int chunk = std::min(left, blockSize_);
        {
            std::lock_guard<std::mutex> lk(queueLock_);
            blocks_.emplace_back(p, p + chunk);
            pendingBytes_ += chunk;
            ++queuedBlocks_;
        }
        queueCv_.notify_all();
        p += chunk;
        left -= chunk;
    }
    return true;
}

bool TSerialDriver::TakeBlock(std::vector<uint8_t>* block, bool wait,
                              const std::atomic<bool>& stop) {
    std::unique_lock<std::mutex> lk(queueLock_);
    if (wait)
        queueCv_.wait(lk, [&] { return stop || !blocks_.empty(); });
    if (stop || blocks_.empty())
        return false;
    *block = std::move(blocks_.front());
    blocks_.pop_front();
    writingBlock_ = static_cast<int>(block->size());
    return true;
}

bool TSerialDriver::FinishBlock(int size) {
    bool wake;
    {
        std::lock_guard<std::mutex> lk(queueLock_);
        pendingBytes_ = std::max(0, pendingBytes_ - size);
        if (queuedBlocks_ > 0)
            --queuedBlocks_;
        writingBlock_ = 0;
        wake = guiWaitsForRoom_ && queuedBlocks_ < kMaxQueuedBlocks;
        if (wake)
            guiWaitsForRoom_ = false;
    }
    queueCv_.notify_all();  // ClearTransBuf may wait for the pending count to reach 0
    return wake;
}

void TSerialDriver::ClearTransBuf() {
    if (!port_)
        return;
    const int fd = port_->dev.Get();
    const auto purge = [&] {
        std::lock_guard<std::mutex> lk(writeLock_);
        ::tcflush(fd, TCOFLUSH);
    };
    TSerialTransmitThread* trans = port_->trans.get();
    if (!trans) {
        purge();
        return;
    }
    trans->discard = true;
    {
        // Blocks not yet taken by the thread are dropped here; the one it is writing ends at
        // its next step, which the kick brings forward when it waits for the device.
        std::lock_guard<std::mutex> lk(queueLock_);
        for (const auto& b : blocks_)
            pendingBytes_ -= static_cast<int>(b.size());
        queuedBlocks_ -= static_cast<int>(blocks_.size());
        blocks_.clear();
        pendingBytes_ = std::max(0, pendingBytes_);
        queuedBlocks_ = std::max(0, queuedBlocks_);
    }
    purge();
    port_->kickFd.Signal();
    {
        // The transmit thread never waits for the GUI thread, so this wait ends.
        std::unique_lock<std::mutex> lk(queueLock_);
        queueCv_.wait(lk, [&] { return pendingBytes_ == 0; });
    }
    // A write issued just before the flag was seen may have put bytes behind the purge.
    purge();
    trans->discard = false;
}

int TSerialDriver::GetTransLength() const {
    if (!port_)
        return 0;
    std::lock_guard<std::mutex> lk(queueLock_);
    return pendingBytes_;
}

std::vector<int> TSerialDriver::PendingBlocks() const {
    std::vector<int> sizes;
    if (!port_)
        return sizes;
    std::lock_guard<std::mutex> lk(queueLock_);
    if (writingBlock_ > 0)
        sizes.push_back(writingBlock_);
    for (const auto& b : blocks_)
        sizes.push_back(static_cast<int>(b.size()));
    return sizes;
}

// ---- reception ------------------------------------------------------------------------------

int TSerialDriver::InputRoom() const {
    std::lock_guard<std::mutex> lk(inputLock_);
    return std::max(0, inputCapacity_ - static_cast<int>(input_.size()));
}

void TSerialDriver::PushInput(const uint8_t* data, int n) {
    std::lock_guard<std::mutex> lk(inputLock_);
    input_.insert(input_.end(), data, data + n);
}

int TSerialDriver::TakeInput(uint8_t* out, int count) {
    bool wasFull;
    int n;
    {
        std::lock_guard<std::mutex> lk(inputLock_);
        wasFull = static_cast<int>(input_.size()) >= inputCapacity_;
        n = std::min(count, static_cast<int>(input_.size()));
        std::copy_n(input_.begin(), n, out);
        input_.erase(input_.begin(), input_.begin() + n);
    }
    // The watch thread left the device alone while the queue was full.
    if (wasFull && n > 0 && port_)
        port_->wakeFd.Signal();
    return n;
}

int TSerialDriver::ReceiveBlock(void* buffer, int count) {
    if (!port_ || !port_->receive || !buffer)
        return -1;
    if (count <= 0)
        return 0;
    auto* out = static_cast<uint8_t*>(buffer);
    int got = TakeInput(out, count);
    if (got == count || timeOutReceive_ <= 0)
        return got;
    // Bytes not there yet: wait for them, at most the read time-out. Each received-data
    // notification wakes the event loop.
    const unsigned openCount = openCount_;
    bool closed = false;
    TReplyTimer timer(clock_);
    WaitDeadline(timer, static_cast<uint32_t>(timeOutReceive_), [&] {
        closed = !port_ || openCount != openCount_;
        if (!closed)
            got += TakeInput(out + got, count - got);
        // A lost line brings nothing more.
        return closed || got == count || lineLost_ ? TPass::Done : TPass::Pending;
    });
    if (closed)
        return got > 0 ? got : -1;
    return got + (got < count ? TakeInput(out + got, count - got) : 0);
}

int TSerialDriver::ReceiveChar() {
    uint8_t c;
    return ReceiveBlock(&c, 1) == 1 ? c : -1;
}

void TSerialDriver::ClearReceiveBuf() {
    if (!port_)
        return;
    ::tcflush(port_->dev.Get(), TCIFLUSH);
    {
        std::lock_guard<std::mutex> lk(inputLock_);
        input_.clear();
    }
    port_->wakeFd.Signal();
}

int TSerialDriver::PendingNotifications() const {
    return port_ && port_->gui ? port_->gui->WaitingWorkers() : 0;
}

int TSerialDriver::GetReceiveLength() const {
    if (!port_)
        return 0;
    std::lock_guard<std::mutex> lk(inputLock_);
    return static_cast<int>(input_.size());
}

// ---- modem lines and break ------------------------------------------------------------------

void TSerialDriver::SetRtsSignal(bool on) {
    SetModemLine(TIOCM_RTS, on);
}
void TSerialDriver::SetDtrSignal(bool on) {
    SetModemLine(TIOCM_DTR, on);
}

bool TSerialDriver::IsSignal(unsigned mask) const {
    if (!port_)
        return false;
    int bits = 0;
    if (::ioctl(port_->dev.Get(), TIOCMGET, &bits) != 0)
        return false;
    return (linesettings::ModemStatus(bits) & mask) != 0;
}

void TSerialDriver::SendBreak() {
    if (!port_)
        return;
    const int fd = port_->dev.Get();
    if (::ioctl(fd, TIOCSBRK) != 0)
        return;
    ::usleep(kBreakMs * 1000);
    ::ioctl(fd, TIOCCBRK);
}
