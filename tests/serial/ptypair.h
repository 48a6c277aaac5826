// Pseudo-terminal pairs and port maps for the serial tests: the driver opens the terminal side
// as its COM port, the test plays the far end on the master side.
#pragma once

#include "support/pump.h"

#include <QByteArray>
#include <QString>
#include <functional>

class PtyPair {
  public:
    PtyPair();  // fails the current test when no pair can be made
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const QString& Path() const { return path_; }
    int Master() const { return master_; }
    // The test's own descriptor of the terminal side: reads the modes the driver set, and keeps
    // the master from seeing a hang-up when the driver closes its port.
    int Terminal() const { return terminal_; }

    // Writes everything, processing GUI events while the line is full.
    void Write(const QByteArray& bytes);
    // Reads from the master until `count` bytes have come or `timeoutMs` have passed.
    QByteArray Read(int count, int timeoutMs = 3000);
    // Everything the master can read within `ms`.
    QByteArray ReadFor(int ms);
    // The far end vanishes: the terminal side is hung up.
    void CloseMaster();

  private:
    int master_ = -1;
    int terminal_ = -1;
    QString path_;
};

// A temporary INI file whose section "ComPorts" maps port numbers to devices; removed with
// the object.
class PortIni {
  public:
    PortIni();
    PortIni(int port, const QString& device) : PortIni() { Map(port, device); }
    ~PortIni();
    PortIni(const PortIni&) = delete;
    PortIni& operator=(const PortIni&) = delete;

    const QString& Path() const { return path_; }
    void Map(int port, const QString& device);

  private:
    QString path_;
};

