#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include <QHash>
#include <QObject>
#include <QQueue>
#include <QSqlDatabase>
#include <QString>

#include "db/DbSettings.h"
#include "db/StatementCache.h"

// The process-wide pool of at most five named connections: to WFS.db beside the program, or,
// with DbDriver=postgresql in config.ini, to a PostgreSQL server through Qt's QPSQL driver.
// Every table operation borrows one connection for its statements and gives it back.
//
// A PostgreSQL server may go away and come back. A connection it dropped is found when it is
// given back or handed out again, and is opened afresh; while the server cannot be reached,
// callers get no connection at once (after a failed attempt the next waits a little longer,
// up to a few seconds) and their operations fail as for any unusable connection. The outage is
// logged once when it begins and once when it ends.
//
// Qt 5.15 refuses QSqlDatabase::database(name) from any thread but the one whose driver object
// it is ("requested database does not belong to the calling thread"), while this pool hands a
// free connection to whichever thread asks next. So the pool keeps its own handle per name,
// releases the driver's thread affinity when a connection is given back and pulls it into the
// borrowing thread when it is handed out. One SQLite connection is thus used by one thread at a
// time and never reopened for a thread change; the QSQLITE driver opens SQLite without its own
// mutex, which is sound exactly under that rule.
class DbCallMetrics;

class SQLiteDb : public QObject {
    Q_OBJECT
  public:
    static SQLiteDb* instance();
    ~SQLiteDb() override;

    // An open connection, or an invalid one when none can be had. Blocks while all are in use.
    QSqlDatabase openConnection();
    // Gives a borrowed connection back; the caller must not use it afterwards.
    void closeConnection(QSqlDatabase& connection);
    // Waits until every connection has been given back, closes them all; no more are handed out.
    void closeAllConnections();

    // The prepared statements kept for a borrowed connection; only its borrower may use them.
    StatementCache* statements(const QSqlDatabase& connection);

    QString databasePath() const { return m_databasePath; }
    bool isPostgreSQL() const { return m_settings.driver == DbSettings::Driver::PostgreSQL; }
    // The server dropped this borrowed connection (PostgreSQL only; a statement on it failed).
    bool connectionLost(const QSqlDatabase& connection) const;
    // Opens a borrowed connection that was lost again in place, with no statements; it stays
    // borrowed. False when the server cannot be reached: the connection then stays closed.
    bool reopen(QSqlDatabase& connection);
    // The server could not be reached at the last attempt and has not been since.
    bool isAway() const;

    // Where borrows and waits are timed from now on (none: not timed); set before the first.
    void setMetrics(DbCallMetrics* metrics) { m_metrics = metrics; }
    DbCallMetrics* metrics() const { return m_metrics; }

    static constexpr int kMaxConnections = 5;

  private:
    explicit SQLiteDb(QObject* parent = nullptr);

    QSqlDatabase connectionFor(const QString& name, std::unique_lock<std::mutex>& lock);
    bool openConfigured(QSqlDatabase& connection);
    void forget(const QString& name);
    QString unusedName(int registered) const;
    // Outage bookkeeping, under the pool mutex.
    bool waitingToRetry() const;
    void noteOpened(const QString& name, bool opened, const QString& reason);
    void noteLost(const QString& name);

    // Standard rather than Qt locking, so that thread sanitizer builds see it.
    mutable std::mutex m_poolMutex;          // guards everything below
    std::condition_variable m_returned;      // a name was given back or a registration went away
    std::condition_variable m_allReturned;   // closeAllConnections waits here for the last one
    QQueue<QString> m_freeNames;             // given back, handed out again first in first out
    QHash<QString, QSqlDatabase> m_handles;  // every connection this pool registered
    QHash<QString, std::shared_ptr<StatementCache>> m_statements;  // per name in m_handles
    DbSettings m_settings;
    QString m_databasePath;
    QString m_userName;
    QString m_password;
    bool m_ready = false;
    // PostgreSQL: the server could not be reached at the last attempt; the next attempt not
    // before m_retryAt; how often it came back; per name, the recoveries when it was opened.
    bool m_away = false;
    QString m_awayReason;  // the server's message at the last failed attempt
    std::chrono::milliseconds m_retryDelay{0};
    std::chrono::steady_clock::time_point m_retryAt;
    quint64 m_recoveries = 0;
    QHash<QString, quint64> m_openedIn;
    std::atomic<DbCallMetrics*> m_metrics{nullptr};
};
