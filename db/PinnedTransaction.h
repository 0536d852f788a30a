#pragma once

#include <functional>
#include <vector>

#include <QSqlDatabase>
#include <QtGlobal>

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
    // savepoint, rolled back to when it left the transaction failed; SQLite undoes just the
    // failed statement and goes on.
    void guard(const std::function<void()>& work);

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
    bool exec(const char* sql);
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
    bool m_guarded = false;  // a savepoint of guard() is set and not yet released
    std::vector<std::function<void(bool)>> m_endListeners;
};
