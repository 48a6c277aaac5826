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
