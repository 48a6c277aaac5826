// The reader link: one TCP connection to the RFID reader behind a board, created for one ROM
// version query and released at its end. It shows nothing; its lines go to the log pane.
//
// The link owns the socket, the 16384-byte receive ring and the link timer; the protocol
// (TReaderFrames) takes frames out of the ring, decodes them and waits for replies. Timer1
// runs the extractor every 100 ms while connected, so frames arriving between requests are
// logged too.
//
// Reading: each read event logs the number of bytes waiting in the socket and takes at most
// 1024 of them, and never more than the ring has room for; what stays in the socket gets a
// later read event of its own (re-posted at once, or once the extractor has made room).
//
// After an error event the socket reconnects after 100 ms, so a refused connection keeps
// being retried without spinning.
//
// Thread rules: GUI thread only. Socket events and timer ticks arrive as GUI events and run
// inside any wait that processes events (OpenLink, WaitResponse, the query's waits).
#pragma once

#include <QObject>
#include <QString>

#include "core/replytimer.h"
#include "reader/comdebug.h"
#include "reader/readerframes.h"
#include "reader/readerprotocol.h"
#include "reader/readersocket.h"

class QTimer;
class TLogPane;

class TReaderLink : public QObject, private TReaderPort {
    Q_OBJECT

  public:
    static constexpr int kReadChunk = 1024;              // bytes taken per read event
    static constexpr int kSocketBufferSize = 64 * 1024;  // socket's own buffer; beyond it TCP
                                                         // holds the peer back
    static constexpr uint32_t kConnectTimeoutMs = 5000;
    static constexpr int kReconnectDelayMs = 100;
    static constexpr int kTickIntervalMs = 100;

    // Reads section "ComDebug" of the INI file at `iniPath` (empty: no INI file) and sets
    // `tcpPort`; starts Timer1. `log` may be null; `owner` (may be null) owns the link as its
    // QObject parent.
    TReaderLink(QObject* owner, int tcpPort, TLogPane* log, const QString& iniPath);
    // Releases the link (FormDestroy) if the owner has not; a failed INI write is then lost.
    ~TReaderLink() override;

    const QString& TCPServAddr() const { return values_.TCPServAddr; }
    void SetTCPServAddr(const QString& addr) { values_.TCPServAddr = addr; }
    int TCPServPort() const { return values_.TCPServPort; }
    void SetTCPServPort(int port) { values_.TCPServPort = port; }
    const TComDebugValues& Values() const { return values_; }
    // The clock of the link timer, which every wait of the link and its frames runs on.
    void SetClock(TClock* clock) { linkTimer_.SetClock(clock); }

    // (Re)connects to TCPServAddr:TCPServPort and waits up to 5000 ms for the connection;
    // logs "コネクト待ち　タイムオーバー" when it does not come. The outcome is in Connected().
    void OpenLink();
    // Starts an asynchronous connect to TCPServAddr:TCPServPort without waiting (OpenLink's
    // first step, and the reconnect after an error event).
    void Activate();
    bool Connected() const { return connected_; }
    // Why the link is not connected: the last socket error's cause ("接続を拒否されました
    // (Connection refused)"), or, when none came, that no answer came in time.
    QString ConnectCause() const;

    // Sends `count` bytes; 0 while not connected or when the send fails.
    int SendBlock(const uint8_t* bytes, int count) override;
    // Appends a line to the log pane, emptying the pane first at 250 lines.
    void LogLine(const QString& text) override;

    void SendRomVersionRequest() { frames_.SendRomVersionRequest(); }
    bool WaitResponse() { return frames_.WaitResponse(); }
    void ExtractFrames() { frames_.ExtractFrames(); }
    const QString& VersionText() const { return frames_.VersionText(); }
    bool VersionReceived() const { return frames_.VersionReceived(); }

    // Writes section "ComDebug" and saves the INI file, closes the socket and clears the
    // connected flag. Throws EFCreateError when the file cannot be written (the socket is
    // closed all the same). Runs once; later calls do nothing.
    void FormDestroy();

    reader::TReceiveRing& Ring() override { return ring_; }
    uint8_t IdNo() const override { return static_cast<uint8_t>(values_.IDNo); }
    TReplyTimer& LinkTimer() override { return linkTimer_; }
    TReaderSocket* ClientSocket1() const { return clientSocket1_; }
    QTimer* Timer1() const { return timer1_; }

    // Event handlers (connected to the socket and Timer1; public for tests).
    void OnConnected();
    void OnDisconnected();
    // `cause`: why, in the words of ErrnoText where the system has them.
    void OnSocketError(const QString& cause);
    void OnReadyRead();
    void OnTimerTick();

  private:
    void RingDrained() override;
    // Gives the bytes still waiting in the socket a read event of their own.
    void PostRead();

    TLogPane* log_;
    QString iniPath_;
    TComDebugValues values_;
    reader::TReceiveRing ring_;
    TReplyTimer linkTimer_;
    TReaderFrames frames_;
    TReaderSocket* clientSocket1_ = nullptr;
    QTimer* timer1_ = nullptr;
    QTimer* reconnectTimer_ = nullptr;
    bool connected_ = false;
    QString lastError_;  // the last socket error's cause
    bool readPosted_ = false;
    bool released_ = false;
};
