// A CUPS queue, handed a label's PDF through libcups's IPP calls: one job, one document.
//
// The server is libcups's choice (the CUPS_SERVER environment variable, ~/.cups/client.conf,
// the local scheduler). Connecting waits at most kCupsConnectMs, and every later wait for the
// server at most kCupsReplyMs; the outcome of a failure carries CUPS's own text.
//
// Thread rules: Print blocks its caller; libcups keeps its last error per thread.
#pragma once

#include <QByteArray>
#include <QString>

#include "label/labeloutcome.h"

inline constexpr int kCupsConnectMs = 5000;
inline constexpr int kCupsReplyMs = 10000;

// Prints `pdf` on `queue` as a job named `title`.
TLabelOutcome PrintOnCupsQueue(const QString& queue, const QByteArray& pdf, const QString& title);
