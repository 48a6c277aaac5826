// netboard-cli's output: standard output for the log and the results, standard error for
// problems; with --json standard output holds only the run's JSON document, and the log and
// the results go to standard error. A write that does not reach standard output is remembered:
// the run then ends NG.
//
// Thread rules: GUI thread only.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// From now on PrintLine writes to standard error: standard output is kept for WriteJson.
void KeepOutputForJson();
// Writes `object` to standard output as one JSON document on one line.
void WriteJson(const QJsonObject& object);

// Writes one line to standard output (to standard error after KeepOutputForJson) / one
// "netboard-cli: " line to standard error, at once, control characters written as "\r", "\x00"
// (and a backslash as "\\"). A failed write to standard output makes RunCli's status NG.
void PrintLine(const QString& line);
void PrintError(const QString& line);
// Standard output lost a line (`error` the errno): the run ends NG, naming the cause.
void LoseOutput(int error);
// Writes `bytes` to standard output as they are (a CSV line, a JSON document).
void WriteOut(const QByteArray& bytes);
// Why standard output lost a line; empty while every line went through.
QString OutputError();
