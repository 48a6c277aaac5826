// A CUPS scheduler of its own for the label tests: cupsd with its configuration in a temporary
// folder, listening only on a Unix socket there, with one queue whose device is a file (a PPD
// whose only filter copies the PDF through), stopped when the object goes. The scheduler is this
// process's child and is killed when this process dies.
//
// Thread rules: one thread.
#pragma once

#include <sys/types.h>
#include <QString>
#include <QTemporaryDir>
#include <functional>

class CupsServer {
  public:
    explicit CupsServer(const QString& queue);
    ~CupsServer();
    CupsServer(const CupsServer&) = delete;
    CupsServer& operator=(const CupsServer&) = delete;

    const QString& Error() const { return error_; }  // empty once it answers
    QString Socket() const { return dir_.filePath("cups.sock"); }
    QString Output() const { return dir_.filePath("out/label.pdf"); }  // what the queue printed
    // True once every job the queue was given has completed (false after 20 s).
    bool WaitForJobsDone() const;

  private:
    QTemporaryDir dir_;
    pid_t pid_ = -1;
    QString error_;
};

// Waits until `done()` holds: checked after each change in `folder` and at least every 100 ms,
// false once `ms` have passed.
bool WaitInFolder(const QString& folder, const std::function<bool()>& done, int ms);
