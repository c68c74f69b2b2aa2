#pragma once
// One transaction on a Connection, held by a guard: begin() opens it, commit() makes its work
// stand, and a guard that leaves scope uncommitted rolls it back. Used wherever several
// statements must stand or fall together (an object's OLAP rebuild, an imported file's rows
// and its record).

#include "db/Connection.h"

#include <string>
#include <vector>

namespace zs::db {

/// Whether a Transaction can be begun on `dialect`'s databases: SQLite, PostgreSQL and SQL
/// Server. Elsewhere each statement stands on its own.
bool hasTransactions(Dialect dialect);

/// The statement that begins a transaction on `dialect`'s databases; empty where there is none.
std::string beginStatement(Dialect dialect);

/// The statement that, inside a transaction, keeps every other writer off `table` until the
/// transaction ends (readers still read): a table emptied and filled again is then replaced
/// whole even when another session fills it at the same time. Empty where the database needs
/// none (SQLite lets one writer at a time into the whole file).
std::string lockTableStatement(Dialect dialect, const std::string& table);

/// One text that runs `statements` as one transaction on `dialect`'s databases: the first that
/// fails ends the text with nothing of it committed (on SQL Server the server rolls it back,
/// elsewhere a ROLLBACK after the failure undoes it). Empty where there are no transactions.
std::string transactionText(Dialect dialect, const std::vector<std::string>& statements);

class Transaction {
  public:
    /// A guard over `connection`, which must outlive it; no transaction is begun yet. One guard
    /// at a time on a connection.
    explicit Transaction(Connection& connection)
        : m_c(connection)
    {}
    /// Rolls back a transaction begun and not committed (see rollback()).
    ~Transaction() { rollback(); }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    /// Begins the transaction. False, with the connection's errors(), when the database refused
    /// it or has no transactions (hasTransactions()); nothing is then begun.
    [[nodiscard]] bool begin();
    /// Commits the transaction begun; true when none was begun. False with the connection's
    /// errors() when the database refused the commit: the transaction is then still to be
    /// rolled back, by rollback() or at the end of the guard's scope.
    [[nodiscard]] bool commit();
    /// Rolls back the transaction begun, if any: a statement still running is cancelled and
    /// rows still being written are waited for first, their outcome dropped. Its own failure
    /// is not reported: the connection's errors() stay those of the failure that led here.
    void rollback() noexcept;
    /// Whether a transaction is begun and neither committed nor rolled back.
    bool active() const { return m_active; }

  private:
    Connection& m_c;
    bool m_active = false;
};

} // namespace zs::db
