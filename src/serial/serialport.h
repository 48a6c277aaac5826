// The serial port driver: opens a COM port by number with exclusive access, applies the line
// settings, sends through a transmit thread that drains a bounded queue of blocks, and watches
// the line with a receive-watch thread whose notifications (received data, break, line error,
// line lost) reach the owner on the GUI thread.
//
// Port n is the device named by key "COM<n>" of section "ComPorts" of the INI file (the
// program's own unless SetIniPath() names another), else /dev/ttyS<n-1>; port 0 has no device.
// An open port holds the device's lock (flock) and sets TIOCEXCL, so a second open, from this
// program or another, fails.
//
// Receiving: the watch thread moves bytes from the device into the driver's input queue of
// BufLenReceive bytes and then notifies the owner with the count waiting there; the owner reads
// them with ReceiveBlock. Bytes a handler leaves stay queued and are counted again at the next
// notification, which comes with the next bytes from the line. While the queue is full the
// thread stops reading the device (the kernel's buffer and the flow control hold the rest) and
// sleeps until ReceiveBlock or ClearReceiveBuf makes room: it never spins.
//
// Thread rules:
// - Every public operation, setter and handler runs on the GUI thread.
// - The transmit thread only writes to the device and takes blocks from the queue (under the
//   queue lock); it never calls into the GUI thread, so the GUI thread may wait for it.
// - The receive-watch thread hands each notification to the GUI thread through TGuiCall and
//   stays blocked until the handler has returned: at most one is in flight, in the order line
//   error, break, received data, line lost.
// - PortClose (also from inside a handler) and destruction shut the hand-over down, wake both
//   threads and join them before the descriptors they use are closed; no notification reaches a
//   closed or destroyed component. A handler may close, reopen or delete its own component.
// - No code holds two of the driver's locks at once.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "core/exceptions.h"
#include "core/posixio.h"
#include "core/replytimer.h"
#include "serial/linesettings.h"

// Errors of the driver: a port that cannot be opened or a line setting the device refuses.
// Message() is the driver's own text. Where a system call failed, Cause() names it ("open",
// "flock", "tcgetattr", ...) with its error, so that a port in use, one the user may not open
// and one that does not exist are told apart.
class ECommError : public Exception {
  public:
    explicit ECommError(const QString& message, const char* step = "", int err = 0)
        : Exception(message), step_(step), errno_(err) {}
    // "<step>: <the system's text of the error>"; empty when no system call failed.
    QString Cause() const;

  private:
    const char* step_;
    int errno_;
};

class TSerialDriver;
class TGuiCall;

// `ReceiveSize`: bytes waiting in the driver's input queue, never 0.
using TCommReceiveEvent = std::function<void(TSerialDriver* Sender, int ReceiveSize)>;
using TCommBreakEvent = std::function<void(TSerialDriver* Sender)>;
// `ErrorState`: 0x02 overrun, 0x04 parity error, 0x08 framing error; never 0.
using TCommErrEvent = std::function<void(TSerialDriver* Sender, int ErrorState)>;
using TCommNotifyEvent = std::function<void(TSerialDriver* Sender)>;
// Observes every switch of a modem line (TIOCM_RTS or TIOCM_DTR and its new state); called on
// the GUI thread or the transmit thread. For tests on terminals without modem lines.
using TModemLineProbe = std::function<void(int line, bool on)>;

// What both of the driver's threads have: the owner, the device, the stop request and the
// thread itself. Started by PortOpen, stopped and joined by PortClose.
class TSerialThread {
  public:
    TSerialThread(TSerialDriver* owner, int fd, const TEventFd& stop)
        : owner_(owner), fd_(fd), stopFd_(stop) {}
    virtual ~TSerialThread() = default;
    TSerialThread(const TSerialThread&) = delete;
    TSerialThread& operator=(const TSerialThread&) = delete;

    void Start();  // throws std::system_error when the thread cannot be created
    void Join();

  protected:
    virtual void Execute() = 0;

    TSerialDriver* owner_;
    int fd_;
    const TEventFd& stopFd_;
    std::atomic<bool> stop_{false};

  private:
    std::thread thread_;
};

// Writes the queued blocks to the device, one batch at a time, switching RTS around each batch
// in the half-duplex modes.
class TSerialTransmitThread : public TSerialThread {
  public:
    // `kick` wakes a write waiting for the device; `room` is signalled when a block finishes
    // while the GUI thread waits for room in the queue.
    TSerialTransmitThread(TSerialDriver* owner, int fd, const TEventFd& stop, const TEventFd& kick,
                          const TEventFd& room, TModemLineProbe probe);
    ~TSerialTransmitThread() override;  // joins

    // Tells the thread to stop and wakes it; Join() then waits for it.
    void Stop();

    void SetCharTime(int ms) { charTimeMs_ = ms; }
    void SetFlow(TCommFlowCtrls flow) { flow_ = flow; }
    void SetTimeOut(int ms) { timeOutMs_ = ms; }
    // Set by ClearTransBuf: what is queued or being written is dropped.
    std::atomic<bool> discard{false};

  private:
    void Execute() override;
    void HalfCtrlStart();
    void HalfCtrlEnd();
    void Write(const std::vector<uint8_t>& block);
    // Sleeps `ms`, or less when the thread is told to stop.
    void Pause(int ms);

    const TEventFd& kickFd_;
    const TEventFd& roomFd_;
    TModemLineProbe probe_;
    std::atomic<int> charTimeMs_{2};
    std::atomic<TCommFlowCtrls> flow_{cfcRtsCts};
    std::atomic<int> timeOutMs_{3000};
};

// Watches the device: moves received bytes into the driver's input queue and hands line
// errors, breaks, received data and the loss of the line to the GUI thread.
class TSerialReceiveThread : public TSerialThread {
  public:
    TSerialReceiveThread(TSerialDriver* owner, int fd, const TEventFd& stop, const TEventFd& wake,
                         TGuiCall* gui);
    ~TSerialReceiveThread() override;  // joins

    void Stop();

  private:
    void Execute() override;
    bool ReadCounters(linesettings::TLineCounters* c) const;
    // Hands one pass's notifications that are due to the GUI thread, in the order line error,
    // break, received data, line lost; false once the port is closing.
    bool Notify(int bits, bool brk, bool got, bool lost);

    const TEventFd& wakeFd_;
    TGuiCall* gui_;
};

class TSerialDriver : public QObject {
    Q_OBJECT

  public:
    static constexpr int kMaxQueuedBlocks = 32;
    static constexpr int kBreakMs = 300;

    explicit TSerialDriver(QObject* owner = nullptr);
    ~TSerialDriver() override;

    // Line properties. While the port is closed a setter only stores its value; while it is
    // open the value is stored and applied at once, and a value the device refuses throws
    // ECommError (the value stays stored).
    int PortNo() const { return portNo_; }
    void SetPortNo(int value);  // open: closed and opened again on the new number
    int BitRate() const { return props_.bitRate; }
    void SetBitRate(int value);
    int CharSize() const { return props_.charSize; }
    void SetCharSize(int value);
    TCommParityBits ParityBit() const { return props_.parity; }
    void SetParityBit(TCommParityBits value);
    TCommStopBits StopBit() const { return props_.stop; }
    void SetStopBit(TCommStopBits value);
    TCommFlowCtrls FlowCtrl() const { return props_.flow; }
    void SetFlowCtrl(TCommFlowCtrls value);
    // Time-outs in ms (0: no limit for writes; reads return what is there). A write waits at
    // most TimeOutTrans for the device to take its bytes and drops the rest of its block after
    // that; ReceiveBlock waits at most TimeOutReceive for bytes that have not arrived yet.
    int TimeOutTrans() const { return timeOutTrans_; }
    void SetTimeOutTrans(int value);
    int TimeOutReceive() const { return timeOutReceive_; }
    void SetTimeOutReceive(int value);
    char XonChar() const { return props_.xon; }
    void SetXonChar(char value);
    char XoffChar() const { return props_.xoff; }
    void SetXoffChar(char value);
    // The largest block handed to the transmit thread, and the size of the input queue.
    int BufLenTrans() const { return bufLenTrans_; }
    void SetBufLenTrans(int value);
    int BufLenReceive() const { return bufLenReceive_; }
    void SetBufLenReceive(int value);
    // The device descriptor; -1 while closed.
    int Handle() const;

    void SetOnReceive(TCommReceiveEvent handler) { onReceive_ = std::move(handler); }
    void SetOnBreak(TCommBreakEvent handler) { onBreak_ = std::move(handler); }
    void SetOnError(TCommErrEvent handler) { onError_ = std::move(handler); }
    // Called once when the device vanishes while open (a pulled USB adapter, the far end of a
    // pseudo-terminal closed). The port stays open but dead until it is closed and reopened.
    void SetOnLineLost(TCommNotifyEvent handler) { onLineLost_ = std::move(handler); }

    // The INI file whose section "ComPorts" maps port numbers to devices; empty (the default):
    // the program's own INI file.
    void SetIniPath(const QString& path) { iniPath_ = path; }
    QString IniPath() const { return iniPath_; }
    // A device to open whatever the port number (empty, the default: the port's own device).
    void SetDeviceOverride(const QString& path) { deviceOverride_ = path; }
    bool HasDeviceOverride() const { return !deviceOverride_.isEmpty(); }
    // The device the port number (or the override) names; empty for port 0.
    QString DevicePath() const;
    void SetModemLineProbe(TModemLineProbe probe) { probe_ = std::move(probe); }
    // The clock ReceiveBlock's wait runs on.
    void SetClock(TClock* clock) { clock_ = clock; }

    // Throws ECommError; a failure after the device was opened closes it again.
    void PortOpen();
    void PortClose();
    bool IsOpen() const { return port_ != nullptr; }
    bool LineLost() const { return lineLost_; }

    // Queues `count` bytes in blocks of at most BufLenTrans bytes and returns once they are
    // queued. While 32 blocks are queued it waits, processing GUI events. False when the port
    // is closed (or closes meanwhile), or its line is lost; a count of 0 gives true at once.
    virtual bool TransBlock(const void* data, int count);
    bool TransChar(char c) { return TransBlock(&c, 1); }
    bool TransString(const QByteArray& text) { return TransBlock(text.constData(), text.size()); }
    // Reads up to `count` bytes from the input queue, waiting (processing GUI events) at most
    // TimeOutReceive for bytes not there yet. The number read, or -1 when the port is closed
    // (or closes meanwhile with nothing read) or `buffer` is null.
    virtual int ReceiveBlock(void* buffer, int count);
    int ReceiveChar();
    // Drops everything queued or being written; returns when nothing is pending.
    void ClearTransBuf();
    // Drops the input queue and what the device holds.
    void ClearReceiveBuf();
    int GetTransLength() const;
    // Sizes of the blocks not yet written: the one being written (if any), then the queued ones.
    std::vector<int> PendingBlocks() const;
    int GetReceiveLength() const;
    // Notifications the watch thread is waiting to hand to the GUI thread right now (0 or 1).
    int PendingNotifications() const;

    void SetRtsSignal(bool on);
    void SetDtrSignal(bool on);
    bool IsCtsSignal() const { return IsSignal(0x10); }
    bool IsDsrSignal() const { return IsSignal(0x20); }
    bool IsRingSignal() const { return IsSignal(0x40); }
    bool IsRlsdSignal() const { return IsSignal(0x80); }
    // True if any bit of `mask` (CTS 0x10, DSR 0x20, RING 0x40, RLSD 0x80) is set.
    bool IsSignal(unsigned mask) const;
    // Holds the line in the break state for 300 ms.
    void SendBreak();

  protected:
    void ThreadCreate();
    void SetTimeOut();
    void SetBufferLength();

  private:
    friend class TSerialTransmitThread;
    friend class TSerialReceiveThread;
    struct Port;

    // Runs a notification's handler on the GUI thread, while the port is open and unless a
    // count among `args` (the bytes waiting, the error bits) is 0.
    template <typename Handler, typename... Args>
    void Raise(const Handler& handler, Args... args);
    // Stores a line property; while open, applies it through the record, a refusal throwing
    // `message`. True when it was applied.
    template <typename T>
    bool SetLineProperty(T TLineRecord::*field, T value, const QString& message);
    void ApplyRecord(const QString& message);
    void ApplyRestLines();
    void SetModemLine(int line, bool on);
    QString deviceOverride_;

    // Transmit queue, for the transmit thread (under queueLock_).
    bool TakeBlock(std::vector<uint8_t>* block, bool wait, const std::atomic<bool>& stop);
    // True when the GUI thread waits for room and should be woken.
    bool FinishBlock(int size);
    // Input queue, for the watch thread and ReceiveBlock (under inputLock_).
    int InputRoom() const;
    void PushInput(const uint8_t* data, int n);
    int TakeInput(uint8_t* out, int count);

    int portNo_ = 1;
    TLineRecord props_;  // the line properties as set (their defaults are the record's)
    int timeOutTrans_ = 3000;
    int timeOutReceive_ = 3000;
    int bufLenTrans_ = 2048;
    int bufLenReceive_ = 2048;
    TCommReceiveEvent onReceive_;
    TCommBreakEvent onBreak_;
    TCommErrEvent onError_;
    TCommNotifyEvent onLineLost_;
    QString iniPath_;
    TModemLineProbe probe_;
    TClock* clock_ = &SystemClock();

    // The line-settings record as applied, and the device's modes it was applied to.
    TLineRecord record_;
    std::unique_ptr<struct termios> modes_;
    int blockSize_ = 2048;  // BufLenTrans as last applied

    std::unique_ptr<Port> port_;
    unsigned openCount_ = 0;  // tells a wait that the port was closed and opened meanwhile
    std::atomic<bool> lineLost_{false};

    // Port-write lock: around each write of the transmit thread and each output purge.
    std::mutex writeLock_;
    // Queue lock: the blocks, the pending byte count and the queued block count.
    mutable std::mutex queueLock_;
    std::condition_variable queueCv_;
    std::deque<std::vector<uint8_t>> blocks_;
    int pendingBytes_ = 0;
    int queuedBlocks_ = 0;  // queued or being written
    int writingBlock_ = 0;  // size of the block being written (0: none)
    bool guiWaitsForRoom_ = false;
    // Input lock: the input queue and its capacity.
    mutable std::mutex inputLock_;
    std::deque<uint8_t> input_;
    int inputCapacity_ = 2048;
};

// The driver with its properties published to Qt's meta-object system, so that a form can set
// and read them by name.
class TSerialPort : public TSerialDriver {
    Q_OBJECT
    Q_PROPERTY(int PortNo READ PortNo WRITE SetPortNo)
    Q_PROPERTY(int BitRate READ BitRate WRITE SetBitRate)
    Q_PROPERTY(int CharSize READ CharSize WRITE SetCharSize)
    Q_PROPERTY(int ParityBit READ ParityBitValue WRITE SetParityBitValue)
    Q_PROPERTY(int StopBit READ StopBitValue WRITE SetStopBitValue)
    Q_PROPERTY(int FlowCtrl READ FlowCtrlValue WRITE SetFlowCtrlValue)
    Q_PROPERTY(int TimeOutTrans READ TimeOutTrans WRITE SetTimeOutTrans)
    Q_PROPERTY(int TimeOutReceive READ TimeOutReceive WRITE SetTimeOutReceive)
    Q_PROPERTY(int XonChar READ XonCharValue WRITE SetXonCharValue)
    Q_PROPERTY(int XoffChar READ XoffCharValue WRITE SetXoffCharValue)
    Q_PROPERTY(int BufLenTrans READ BufLenTrans WRITE SetBufLenTrans)
    Q_PROPERTY(int BufLenReceive READ BufLenReceive WRITE SetBufLenReceive)
    Q_PROPERTY(int Handle READ Handle)

  public:
    using TSerialDriver::TSerialDriver;

  private:
    int ParityBitValue() const { return ParityBit(); }
    void SetParityBitValue(int v) { SetParityBit(static_cast<TCommParityBits>(v)); }
    int StopBitValue() const { return StopBit(); }
    void SetStopBitValue(int v) { SetStopBit(static_cast<TCommStopBits>(v)); }
    int FlowCtrlValue() const { return FlowCtrl(); }
    void SetFlowCtrlValue(int v) { SetFlowCtrl(static_cast<TCommFlowCtrls>(v)); }
    int XonCharValue() const { return static_cast<unsigned char>(XonChar()); }
    void SetXonCharValue(int v) { SetXonChar(static_cast<char>(v)); }
    int XoffCharValue() const { return static_cast<unsigned char>(XoffChar()); }
    void SetXoffCharValue(int v) { SetXoffChar(static_cast<char>(v)); }
};
