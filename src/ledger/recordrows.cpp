#include "ledger/recordrows.h"

#include <QSqlQueryModel>
#include <iterator>

#include "ledger/ledger.h"

namespace {

const char* const kHeaders[] = {"日時",        "ステーション", "コマンド", "接続",
                                "MACアドレス", "IPアドレス",   "結果",     "NG箇所"};

}  // namespace

TRecordRows::TRecordRows(QObject* parent)
    : QIdentityProxyModel(parent), rows_(std::make_unique<QSqlQueryModel>()) {
    setSourceModel(rows_.get());
}

TRecordRows::~TRecordRows() {
    setSourceModel(nullptr);
}

void TRecordRows::Select(TLedger& ledger, const TRecordFilter& filter) {
    ledger.SelectRows(rows_.get(), filter);
    for (int i = 0; i < static_cast<int>(std::size(kHeaders)); ++i)
        rows_->setHeaderData(i, Qt::Horizontal, QString::fromUtf8(kHeaders[i]));
}
