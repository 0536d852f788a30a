#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>

#include <QHash>
#include <QObject>
#include <QQueue>
#include <QSqlDatabase>
#include <QString>

#include "db/StatementCache.h"

// The process-wide pool of at most five named SQLite connections to WFS.db beside the program.
// Every table operation borrows one connection for its statements and gives it back.
//
// Qt 5.15 refuses QSqlDatabase::database(name) from any thread but the one whose driver object
// it is ("requested database does not belong to the calling thread"), while this pool hands a
// free connection to whichever thread asks next. So the pool keeps its own handle per name,
// releases the driver's thread affinity when a connection is given back and pulls it into the
// borrowing thread when it is handed out. One SQLite connection is thus used by one thread at a
// time and never reopened for a thread change; the QSQLITE driver opens SQLite without its own
// mutex, which is sound exactly under that rule.
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

    static constexpr int kMaxConnections = 5;

  private:
    explicit SQLiteDb(QObject* parent = nullptr);

    QSqlDatabase connectionFor(const QString& name);
    bool openConfigured(QSqlDatabase& connection);
    void forget(const QString& name);
    QString unusedName(int registered) const;

    // Standard rather than Qt locking, so that thread sanitizer builds see it.
    std::mutex m_poolMutex;                  // guards everything below
    std::condition_variable m_returned;      // a name was given back or a registration went away
    std::condition_variable m_allReturned;   // closeAllConnections waits here for the last one
    QQueue<QString> m_freeNames;             // given back, handed out again first in first out
    QHash<QString, QSqlDatabase> m_handles;  // every connection this pool registered
    QHash<QString, std::shared_ptr<StatementCache>> m_statements;  // per name in m_handles
    QString m_databasePath;
    QString m_userName;
    QString m_password;
    bool m_ready = false;
};
