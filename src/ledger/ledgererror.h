// The ledger's errors.
#pragma once

#include "core/exceptions.h"

// The ledger cannot be opened, read or written (the shared one: reached).
class ELedgerError : public Exception {
  public:
    using Exception::Exception;
};

// A ledger whose identity is not the one the settings file names: missing, empty or another's.
// No command runs on it, not even one that would keep its rows elsewhere.
class ELedgerIdentityError : public ELedgerError {
  public:
    using ELedgerError::ELedgerError;
};

// A write the open site plan cannot serve: a serial the plan does not hold, a row already
// taken, a plan whose rows are all taken. Nothing was reserved.
class EPlanRefused : public ELedgerError {
  public:
    using ELedgerError::ELedgerError;
};
