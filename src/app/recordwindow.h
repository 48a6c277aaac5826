// The production record window (ファイル → 製造記録...): the ledger's rows as a table, newest
// first, with a search by MAC address and a choice of station, the counts of boards and NG
// results of the rows shown, and an export of those rows to CSV. Esc or Ctrl+W closes it. The table
// reads the rows a screenful at a time, so it opens at once however long the record is (a shared
// ledger's newest 50 000, which its driver reads whole).
//
// Thread rules: GUI thread only; it reads through the command runner's ledger connection.
#pragma once

#include <QWidget>
#include <functional>

#include "ledger/ledgertypes.h"

class QComboBox;
class QLabel;
class QLineEdit;
class TRecordRows;
class QTableView;
class TLedger;

class TRecordWindow : public QWidget {
    Q_OBJECT

  public:
    TRecordWindow(TLedger& ledger, QWidget* parent);

    // Reads the rows and the counts again (after a command has added one).
    void Refresh();
    // Writes the rows shown (the search and the station chosen) as CSV to `path`, and says
    // where it wrote how many; false with the reason shown when it cannot.
    bool ExportTo(const QString& path);

    // What "ラベル再印刷" does with the chosen row's MAC address ("02-5A-C3-...").
    void SetReprint(std::function<void(const QString& mac)> reprint) {
        reprint_ = std::move(reprint);
    }

    QTableView* Table() const { return table_; }
    QLabel* Counts() const { return counts_; }

  private:
    // Asks where to write the CSV and writes it there.
    void Export();

    TLedger& ledger_;
    TRecordFilter filter_;  // the rows shown, counted and exported
    QLineEdit* search_ = nullptr;
    QComboBox* station_ = nullptr;  // "すべて", then each station of the ledger
    QTableView* table_ = nullptr;
    TRecordRows* model_ = nullptr;
    QLabel* counts_ = nullptr;
    QLabel* checks_ = nullptr;    // the boards by their last end-of-line check
    QLabel* exported_ = nullptr;  // where the last export went
    std::function<void(const QString& mac)> reprint_;
};
