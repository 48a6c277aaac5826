// A ZPL label printer on a raw TCP connection (port 9100 on most printers).
//
// Print() connects, asks for the host status (~HS) and reads the whole answer. A printer out of
// paper, with its head open or paused, one that does not answer within the limit, answers in a
// form that cannot be read or closes the connection gets no job, and the outcome names the
// cause. Otherwise the job follows on the same connection, the sending direction is shut and the
// connection closed. Each step waits at most its limit, so Print returns within the sum of the
// limits, plus the name look-up of a host that is not an IPv4 address (bounded by the resolver's
// own time-outs).
//
// Thread rules: Print blocks its caller; one object serves one thread at a time.
#pragma once

#include <QByteArray>
#include <QString>

#include "label/labeloutcome.h"

class TZplPrinter {
  public:
    struct TLimits {
        int connectMs = 3000;
        int answerMs = 3000;  // for the whole status answer, from the request
        int sendMs = 5000;    // for the job to leave
    };

    TZplPrinter(const QString& host, int port, const TLimits& limits);
    TZplPrinter(const QString& host, int port) : TZplPrinter(host, port, TLimits()) {}

    TLabelOutcome Print(const QByteArray& job) const;

  private:
    QString host_;
    int port_;
    TLimits limits_;
};
