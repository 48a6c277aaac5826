// The ledger's rows as a table model, for the record window: a screenful is read at once, the
// rest as the view scrolls (a shared ledger's view holds the newest 50 000).
//
// Thread rules: the ledger's thread (the GUI thread).
#pragma once

#include <QIdentityProxyModel>
#include <memory>

#include "ledger/ledgertypes.h"

class QSqlQueryModel;
class TLedger;

class TRecordRows : public QIdentityProxyModel {
    Q_OBJECT

  public:
    explicit TRecordRows(QObject* parent = nullptr);
    ~TRecordRows() override;

    // The rows of `ledger` that `filter` selects, newest first, with their column headers.
    // Throws ELedgerError.
    void Select(TLedger& ledger, const TRecordFilter& filter);

  private:
    std::unique_ptr<QSqlQueryModel> rows_;
};
