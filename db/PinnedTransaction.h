#pragma once

#include <functional>
#include <vector>

#include <QSqlDatabase>
#include <QtGlobal>

#include "db/ReportRows.h"

class SQLiteDb;
class StatementCache;

// Pins one pooled connection to this thread and opens a transaction on it: every
// PooledConnection borrowed on this thread until the scope ends runs on that connection, so a
// run of table operations costs one commit. A borrow inside the scope does not reopen a
// connection the server dropped (its statements fail, and so does the commit). Scopes do not
// nest: an inner one stays closed and its thread's borrows go on in the outer one.
class PinnedTransaction {
  public:
    // No connection, or the transaction could not begin: closed, and borrows are as usual.
    PinnedTransaction();
    // Rolls back what was not committed.
    ~PinnedTransaction();
    PinnedTransaction(const PinnedTransaction&) = delete;
    PinnedTransaction& operator=(const PinnedTransaction&) = delete;

    bool isOpen() const { return m_open; }

    // Runs work so that a statement of it that fails undoes only work's own writes. PostgreSQL
    // refuses every statement of a transaction after a failed one, so there work runs under a
    // savepoint, set by its first statement and rolled back to when it left the transaction
    // failed; SQLite undoes just the failed statement and goes on. Guards do not nest.
    void guard(const std::function<void()>& work);

    // PostgreSQL: a report's rows held back, so that the rows of many reports reach the server in
    // one statement. Those a guarded work holds are written after it, before any later statement
    // of the scope and before its commit, all together under a savepoint of their own (one by
    // one when together they fail); a work that runs a statement after holding writes its own
    // held rows first, as part of it. refused runs if the scope commits without its rows.
    void hold(const ReportRows& rows, std::function<void()> refused);
    // Called by a borrow of the scope's connection before its statements.
    void beforeStatement() {
        if (m_guardWanted || !m_heldNow.empty() || !m_heldDone.empty()) prepareStatement();
    }

    // Commits and lets the connection go; false when it was not open or the commit failed (then
    // nothing of it is written). The scope is closed afterwards either way.
    bool commit();

    // Called once when the transaction ends, with whether it committed: a rollback, a failed
    // commit and a scope left without commit all say false.
    void onEnd(std::function<void(bool committed)> listener);

    // Numbers the scopes of the process from 1, so that what was read in one is told apart from
    // what a later one (perhaps at the same address) reads.
    quint64 serial() const { return m_serial; }

    // The scope open on this thread, or null.
    static PinnedTransaction* current();
    QSqlDatabase& connection() { return m_connection; }
    StatementCache* statements() const { return m_statements; }

  private:
    struct Held {
        ReportRows rows;
        std::function<void()> refused;
    };

    bool exec(const char* sql);
    void prepareStatement();
    // Sets the savepoint of the work about to run, letting the one before go.
    void setSavepoint();
    // Writes what finished works held, as guarded work of its own.
    void writeHeld();
    void writeAlone(const Held& held);
    // Rolls the failed guarded work back and sets a new savepoint for the next.
    bool undoGuarded();
    // Rolls the failed guarded work back and lets its savepoint go.
    void dropGuarded();
    void close();
    void ended(bool committed);

    SQLiteDb* m_pool = nullptr;
    QSqlDatabase m_connection;
    StatementCache* m_statements = nullptr;
    bool m_open = false;
    quint64 m_serial = 0;
    bool m_guarded = false;      // a savepoint of guard() is set and not yet released
    bool m_inGuard = false;      // guarded work runs
    bool m_guardWanted = false;  // it has run no statement yet, so its savepoint is not set
    bool m_writingHeld = false;
    std::vector<Held> m_heldNow;   // by the guarded work running
    std::vector<Held> m_heldDone;  // by works that ended
    std::vector<std::function<void(bool)>> m_endListeners;
};
