// A CUPS scheduler of the test's own: cupsd configured in a temporary folder, listening only on a
// Unix socket there, with one queue that copies each PDF into a file (a PPD whose one filter is
// gziptoany, and a file: device). It is this process's child, killed when this process dies.
#pragma once

#include <sys/types.h>
#include <QString>
#include <QTemporaryDir>
#include <functional>

class CupsServer {
  public:
    explicit CupsServer(const QString& queue);
    ~CupsServer();  // stops the scheduler

    const QString& Error() const { return error_; }  // empty once it answers
    QString Socket() const { return dir_.filePath("cups.sock"); }
    QString Output() const { return dir_.filePath("out/label.pdf"); }  // what the queue printed
    bool WaitForJobsDone() const;                                      // false after 20 s

  private:
    QTemporaryDir dir_;
    pid_t pid_ = -1;
    QString error_;
};

// Waits until `done()` holds, checking after each change in `folder` and at least every 100 ms;
// false once `ms` have passed.
bool WaitInFolder(const QString& folder, const std::function<bool()>& done, int ms);
