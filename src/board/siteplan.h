// A site plan: each board of a site its own settings, one row of a CSV file each. The header
// names the settings by their line keyword (any of kPlanKeys, in any order), and may add a
// "serial" column (the board's serial number, which picks its row) and a "note" column; the
// settings a plan does not name come from the settings file. Every value is written as the
// setting's line writes it ("192.168.1.11", "3335", the speed code "17").
//
// Pure functions. Thread rules: none.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <iterator>

#include "board/recordline.h"
#include "core/settings.h"

// The settings a plan may give, in the order a write sends them.
inline constexpr const char* kPlanKeys[] = {"l_ip", "l_pt", "f_ip", "f_pt", "mask",
                                            "conn", "bps",  "timv", "keep", "timr"};
inline constexpr int kPlanKeyCount = static_cast<int>(std::size(kPlanKeys));

// A file larger than this is refused before it is read: a plan of a million boards fits.
inline constexpr qint64 kPlanFileLimit = 128LL * 1024 * 1024;
// A check lists at most this many errors: the first ones tell what is wrong with a file.
inline constexpr int kPlanErrorLimit = 50;

struct TPlanRow {
    int number = 0;  // the row's place in the plan, from 1
    QString serial;  // empty: the row is taken only as the next one
    QString note;
    TSentValues values;  // by keyword, each as its line writes it
    // The own IP address the row gives; empty when the plan gives none.
    QString OwnIp() const { return values.value(QStringLiteral("l_ip")); }
};

struct TSitePlan {
    QStringList keys;  // the settings the plan gives, in kPlanKeys order
    QList<TPlanRow> rows;
};

// Reads a plan from a file's bytes: UTF-8 (with or without its byte order mark) when they are
// valid UTF-8, else Shift_JIS. False with `errors` (each naming its line and column, at most
// kPlanErrorLimit) when any value is not one its setting takes, a column is unknown or given
// twice, a row has another number of fields than the header, two rows give the same own IP
// address or the same serial, or there is no row; `plan` is then empty.
bool ParsePlan(const QByteArray& bytes, TSitePlan* plan, QStringList* errors);

// The row's values put into the record (the settings the row does not give stay as they are).
void ApplyPlanRow(const TPlanRow& row, TBoardParams* p);
// The members of `from` that `keys` name, put into `to`: what a write puts back once the row's
// values are no longer wanted.
void CopyPlanSettings(const QStringList& keys, const TBoardParams& from, TBoardParams* to);

// A row's values in one text, "l_ip=192.168.1.11;l_pt=3335" (keys in kPlanKeys order), and
// back; unknown keys are dropped on the way back.
QString PlanValuesText(const TSentValues& values);
TSentValues PlanValuesOfText(const QString& text);
