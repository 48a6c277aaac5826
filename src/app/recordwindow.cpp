#include "app/recordwindow.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QShortcut>
#include <QTableView>
#include <QVBoxLayout>

#include "core/exceptions.h"
#include "dialogs/errorbox.h"
#include "dialogs/savefiledialog.h"
#include "ledger/ledger.h"
#include "ledger/recordrows.h"

namespace {

// The search text as the ledger writes addresses: upper case, and "0001C9" as "00-01-C9".
QString AddressPattern(const QString& text) {
    QString t = text.trimmed().toUpper();
    t.remove(QLatin1Char('-')).remove(QLatin1Char(':'));
    for (auto i = t.size() - 2; i > 0; i -= 2)
        t.insert(i, QLatin1Char('-'));
    return t;
}

}  // namespace

TRecordWindow::TRecordWindow(TLedger& ledger, QWidget* parent)
    : QWidget(parent, Qt::Window), ledger_(ledger) {
    setObjectName(QStringLiteral("RecordWindow"));
    setWindowTitle(QStringLiteral("製造記録"));
    resize(760, 480);

    search_ = new QLineEdit(this);
    search_->setObjectName(QStringLiteral("EdSearch"));
    search_->setPlaceholderText(QStringLiteral("例: 00-01-C9"));
    auto* find = new QPushButton(QStringLiteral("検索"), this);
    find->setObjectName(QStringLiteral("BtSearch"));
    const auto search = [this] {
        filter_.mac = AddressPattern(search_->text());
        Refresh();
    };
    connect(find, &QPushButton::clicked, this, search);
    connect(search_, &QLineEdit::returnPressed, this, search);
    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("MACアドレス"), this));
    top->addWidget(search_, 1);
    top->addWidget(find);
    station_ = new QComboBox(this);
    station_->setObjectName(QStringLiteral("CbStation"));
    station_->addItem(QStringLiteral("すべて"));
    connect(station_, &QComboBox::activated, this, [this] { Refresh(); });
    top->addWidget(new QLabel(QStringLiteral("ステーション"), this));
    top->addWidget(station_);

    model_ = new TRecordRows(this);
    table_ = new QTableView(this);
    table_->setObjectName(QStringLiteral("RecordTable"));
    table_->setModel(model_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    // Each cell on one line, the columns as wide as the first screenful of rows needs (measuring
    // every row of a large ledger would stall the window).
    table_->setWordWrap(false);
    table_->horizontalHeader()->setResizeContentsPrecision(50);

    counts_ = new QLabel(this);
    counts_->setObjectName(QStringLiteral("LbCounts"));
    auto* exportButton = new QPushButton(QStringLiteral("CSVに書き出す..."), this);
    exportButton->setObjectName(QStringLiteral("BtExport"));
    connect(exportButton, &QPushButton::clicked, this, &TRecordWindow::Export);
    // The label of the chosen row's board again; a row without an address has none.
    auto* reprint = new QPushButton(QStringLiteral("ラベル再印刷"), this);
    reprint->setObjectName(QStringLiteral("BtReprint"));
    connect(reprint, &QPushButton::clicked, this, [this] {
        const QModelIndex row = table_->currentIndex();
        const QString mac =
            row.isValid() ? model_->index(row.row(), 4).data().toString() : QString();
        if (mac.isEmpty() || !reprint_)
            return;
        reprint_(mac);
        Refresh();
    });
    auto* close = new QPushButton(QStringLiteral("閉じる"), this);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    checks_ = new QLabel(this);
    checks_->setObjectName(QStringLiteral("LbChecks"));
    exported_ = new QLabel(this);
    exported_->setObjectName(QStringLiteral("LbExported"));
    exported_->setWordWrap(true);
    exported_->hide();
    for (const QKeySequence& key :
         {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::ControlModifier | Qt::Key_W)})
        connect(new QShortcut(key, this), &QShortcut::activated, this, &QWidget::close);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(counts_, 1);
    bottom->addWidget(reprint);
    bottom->addWidget(exportButton);
    bottom->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(table_, 1);
    layout->addWidget(checks_);
    layout->addWidget(exported_);
    layout->addLayout(bottom);
    Refresh();
}

void TRecordWindow::Export() {
    const QString path =
        AskSaveFileName(this, QStringLiteral("製造記録の書き出し"),
                        QStringLiteral("netboard-record.csv"), QStringLiteral("CSV (*.csv)"));
    if (!path.isEmpty())
        ExportTo(path);
}

void TRecordWindow::Refresh() {
    // The first entry stands for every station; the others are the ledger's, the chosen one
    // kept when it is still there.
    const QString chosen = station_->currentIndex() > 0 ? station_->currentText() : QString();
    try {
        const QStringList stations = ledger_.Stations();
        while (station_->count() > 1)
            station_->removeItem(1);
        station_->addItems(stations);
        station_->setCurrentIndex(std::max(0, static_cast<int>(stations.indexOf(chosen)) + 1));
        filter_.station = station_->currentIndex() > 0 ? chosen : QString();
        // Newest first by the row's number, which the primary key keys: the first screenful
        // comes at once, the rest as the table scrolls.
        model_->Select(ledger_, filter_);
        table_->resizeColumnsToContents();
        // The whole ledger's counts come from its indexes; a filter's are counted.
        TRecordCounts c;
        const TLedgerStats all = ledger_.Stats();
        if (filter_.Any())
            c = ledger_.Counts(filter_);
        else
            c = {all.rows, all.ng, all.given};
        counts_->setText(QStringLiteral("記録 %1 件　書き込んだボード %2 台　NG %3 件")
                             .arg(c.rows)
                             .arg(c.boards)
                             .arg(c.ng));
        // Every board of the ledger by its last end-of-line check.
        checks_->setText(QStringLiteral("検査済み %1 台　未検査 %2 台　NG %3 台")
                             .arg(all.checked)
                             .arg(all.unchecked)
                             .arg(all.checkNg));
    } catch (const Exception& e) {
        counts_->setText(e.Message());
    }
}

bool TRecordWindow::ExportTo(const QString& path) {
    QSaveFile f(path);
    bool written = f.open(QIODevice::WriteOnly);
    qint64 rows = 0;
    try {
        rows = ledger_.Export(filter_, [&](const QByteArray& lines) {
            written = written && f.write(lines) == lines.size();
        });
    } catch (const Exception& e) {
        ShowErrorBox(this, e.Message());
        return false;
    }
    // The file appears whole or not at all.
    if (!written || !f.commit()) {
        ShowErrorBox(this, QStringLiteral("%1 に書き込めません: %2").arg(path, f.errorString()));
        return false;
    }
    exported_->setText(QStringLiteral("%1 件を %2 に書き出しました").arg(rows).arg(path));
    exported_->show();
    return true;
}
