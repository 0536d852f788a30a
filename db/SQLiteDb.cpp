#include "db/SQLiteDb.h"

#include <atomic>
#include <mutex>

#include <sqlite3.h>

#include <QDir>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QThread>
#include <QThreadPool>
#include <QVariant>

#include "core/AppDir.h"
#include "core/DbCallTimer.h"

namespace {
// Process-wide: once set, no connection is handed out again.
std::atomic<bool> g_closed{false};

const QString kDriver = QStringLiteral("QSQLITE");
// Concurrent writers on other connections wait for the file lock instead of failing at once.
const QString kConnectOptions = QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000");

QString connectionName(int number) {
    return QStringLiteral("Connection-%1").arg(number);
}

// The thread that used a connection lets go of its driver so the next borrower may take it.
void releaseAffinity(QSqlDatabase& connection) {
    QSqlDriver* driver = connection.driver();
    if (driver && driver->thread() == QThread::currentThread()) driver->moveToThread(nullptr);
}

// SQLite opens a file it may not write read-only and keeps it so for the connection's life.
bool openedReadOnly(const QSqlDatabase& connection) {
    const QSqlDriver* driver = connection.driver();
    const QVariant handle = driver ? driver->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0) return false;
    sqlite3* db = *static_cast<sqlite3* const*>(handle.constData());
    return db && sqlite3_db_readonly(db, "main") == 1;
}

// Qt lets a thread pull only objects that belong to no thread.
bool takeAffinity(QSqlDatabase& connection) {
    QSqlDriver* driver = connection.driver();
    if (!driver) return false;
    if (driver->thread() == QThread::currentThread()) return true;
    if (driver->thread() != nullptr) return false;
    driver->moveToThread(QThread::currentThread());
    return driver->thread() == QThread::currentThread();
}
}  // namespace

SQLiteDb* SQLiteDb::instance() {
    static std::mutex creationMutex;
    static SQLiteDb* single = nullptr;
    std::lock_guard<std::mutex> lock(creationMutex);
    if (!single) single = new SQLiteDb();
    return single;
}

SQLiteDb::SQLiteDb(QObject* parent) : QObject(parent) {
    m_databasePath = applicationDirectory() + QDir::separator() + QStringLiteral("WFS.db");
    m_ready = true;
}

SQLiteDb::~SQLiteDb() {
    closeAllConnections();
    QThreadPool::globalInstance()->waitForDone();
}

QSqlDatabase SQLiteDb::openConnection() {
    std::unique_lock<std::mutex> lock(m_poolMutex);
    if (g_closed) return QSqlDatabase();

    // Connections registered by other code count against the limit too.
    int registered = QSqlDatabase::connectionNames().size();
    DbCallTimer::PoolWait wait;
    while (registered == kMaxConnections && m_freeNames.isEmpty()) {
        wait.blocked();
        m_returned.wait(lock);
        if (g_closed) return QSqlDatabase();
        registered = QSqlDatabase::connectionNames().size();
    }

    QString name;
    if (!m_freeNames.isEmpty()) {
        name = m_freeNames.dequeue();
    } else if (registered >= kMaxConnections) {
        return QSqlDatabase();
    } else {
        name = unusedName(registered);
    }
    return connectionFor(name);
}

// "Connection-" + (registered + 1), unless a removed registration left that number taken
// while a lower one is free: a name in use must never be handed out twice.
QString SQLiteDb::unusedName(int registered) const {
    const QStringList names = QSqlDatabase::connectionNames();
    const QString next = connectionName(registered + 1);
    if (!names.contains(next)) return next;
    for (int number = 1;; ++number)
        if (!names.contains(connectionName(number))) return connectionName(number);
}

QSqlDatabase SQLiteDb::connectionFor(const QString& name) {
    auto known = m_handles.find(name);
    if (known != m_handles.end()) {
        QSqlDatabase connection = known.value();
        if (!takeAffinity(connection)) {
            connection = QSqlDatabase();
            forget(name);
            return QSqlDatabase();
        }
        if (connection.isOpen()) return connection;
        m_statements.value(name)->clear();  // closing finalized them
        if (openConfigured(connection)) return connection;
        // Neither in use nor free from now on: drop it so nobody waits for it.
        connection = QSqlDatabase();
        forget(name);
        return QSqlDatabase();
    }
    if (QSqlDatabase::contains(name)) return QSqlDatabase();  // not ours to hand out
    if (!m_ready) return QSqlDatabase();

    QSqlDatabase connection = QSqlDatabase::addDatabase(kDriver, name);
    connection.setDatabaseName(m_databasePath);
    connection.setUserName(m_userName);
    connection.setPassword(m_password);
    connection.setConnectOptions(kConnectOptions);
    if (!openConfigured(connection)) {
        connection = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
        m_returned.notify_all();
        return QSqlDatabase();
    }
    m_handles.insert(name, connection);
    m_statements.insert(name, std::make_shared<StatementCache>(connection));
    return connection;
}

// Per-connection settings are applied once per physical open, never per statement.
bool SQLiteDb::openConfigured(QSqlDatabase& connection) {
    if (!connection.open()) return false;
    QSqlQuery pragma(connection);
    // WAL lets readers and one writer work at once; it is stored in the file, so this is cheap
    // after the first time. NORMAL is durable in WAL mode except across a power loss.
    pragma.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    pragma.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    pragma.clear();
    return true;
}

StatementCache* SQLiteDb::statements(const QSqlDatabase& connection) {
    std::unique_lock<std::mutex> lock(m_poolMutex);
    return m_statements.value(connection.connectionName()).get();
}

void SQLiteDb::forget(const QString& name) {
    m_statements.remove(name);
    m_handles.remove(name);
    m_freeNames.removeAll(name);
    QSqlDatabase::removeDatabase(name);
    m_returned.notify_all();  // a waiter may now register a new connection
    m_allReturned.notify_all();
}

void SQLiteDb::closeConnection(QSqlDatabase& connection) {
    std::unique_lock<std::mutex> lock(m_poolMutex);
    if (g_closed) return;
    const QString name = connection.connectionName();
    if (name.isEmpty() || !m_handles.contains(name) || m_freeNames.contains(name)) return;
    // Reopened by the next borrower, so writes work again once the file is writable.
    if (connection.isOpen() && openedReadOnly(connection)) {
        m_statements.value(name)->clear();
        connection.close();
    }
    releaseAffinity(connection);
    m_freeNames.enqueue(name);
    m_returned.notify_one();
    m_allReturned.notify_all();
}

void SQLiteDb::closeAllConnections() {
    std::unique_lock<std::mutex> lock(m_poolMutex);
    if (g_closed) return;
    // Only this pool's connections are waited for; others are never given back here.
    while (m_freeNames.size() < m_handles.size()) m_allReturned.wait(lock);
    m_statements.clear();
    const QStringList names = m_handles.keys();
    for (const QString& name : names) {
        QSqlDatabase& connection = m_handles[name];
        takeAffinity(connection);
        connection.close();
    }
    m_handles.clear();
    m_freeNames.clear();
    for (const QString& name : names) QSqlDatabase::removeDatabase(name);
    g_closed = true;
    m_returned.notify_all();
}
