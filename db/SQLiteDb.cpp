#include "db/SQLiteDb.h"

#include <libpq-fe.h>
#include <poll.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <mutex>

#include <QDir>
#include <QSqlDriver>
#include <QSqlError>
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
const QString kPostgresDriver = QStringLiteral("QPSQL");
// libpq's: a server that does not answer is given up after seconds, not minutes; the notices
// of statements such as "create table if not exists" stay out of the service's output.
const QString kPostgresOptions = QStringLiteral(
    "connect_timeout=3;application_name=wayfarer;options=-cclient_min_messages=warning");
// The waits between attempts to reach a server that is away.
constexpr std::chrono::milliseconds kFirstRetry{250};
constexpr std::chrono::milliseconds kLongestRetry{8000};

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

PGconn* pgConnection(const QSqlDatabase& connection) {
    const QSqlDriver* driver = connection.driver();
    const QVariant handle = driver ? driver->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "PGconn*") != 0) return nullptr;
    return *static_cast<PGconn* const*>(handle.constData());
}

// Reads, without waiting, what the server sent to an idle connection: one that shut down or
// ended the session left a closed socket behind, found here before a statement fails on it.
bool droppedWhileIdle(const QSqlDatabase& connection) {
    PGconn* conn = pgConnection(connection);
    if (!conn) return false;
    for (int read = 0; read < 4 && PQstatus(conn) == CONNECTION_OK; ++read) {
        pollfd socket{PQsocket(conn), POLLIN, 0};
        if (socket.fd < 0 || ::poll(&socket, 1, 0) <= 0 || PQconsumeInput(conn) == 0) break;
    }
    return PQstatus(conn) != CONNECTION_OK;
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

SQLiteDb::SQLiteDb(QObject* parent) : QObject(parent), m_settings(DbSettings::fromConfig()) {
    m_databasePath = applicationDirectory() + QDir::separator() + QStringLiteral("WFS.db");
    switch (m_settings.driver) {
        case DbSettings::Driver::SQLite:
            break;
        case DbSettings::Driver::PostgreSQL:
            m_userName = m_settings.user;
            m_password = m_settings.password;
            if (m_settings.passwordUnreadable)
                qWarning("[SQLiteDb] DbPasswordFile cannot be read; connecting without a password");
            break;
        case DbSettings::Driver::Unknown:
            // Nothing is opened: start-up ends instead of writing to a database not meant.
            qWarning("[SQLiteDb] DbDriver must be sqlite or postgresql, not %s",
                     qUtf8Printable(m_settings.driverText));
            return;
    }
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
    DbCallTimer::PoolWait wait(m_metrics);
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
    return connectionFor(name, lock);
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

QSqlDatabase SQLiteDb::connectionFor(const QString& name, std::unique_lock<std::mutex>& lock) {
    QSqlDatabase connection;
    auto known = m_handles.find(name);
    if (known != m_handles.end()) {
        connection = known.value();
        if (!takeAffinity(connection)) {
            connection = QSqlDatabase();
            forget(name);
            return QSqlDatabase();
        }
        // QPSQL's isOpen() asks libpq, so a dropped connection reads as closed from then on.
        if (connection.isOpen() && !(isPostgreSQL() && droppedWhileIdle(connection)))
            return connection;
        if (isPostgreSQL()) {
            if (connectionLost(connection)) noteLost(name);
            m_statements.value(name)->abandon();
            connection.close();
        } else {
            m_statements.value(name)->clear();  // closing finalized them
        }
    } else {
        if (QSqlDatabase::contains(name)) return QSqlDatabase();  // not ours to hand out
        if (!m_ready || waitingToRetry()) return QSqlDatabase();
        connection = QSqlDatabase::addDatabase(isPostgreSQL() ? kPostgresDriver : kDriver, name);
        if (isPostgreSQL()) {
            connection.setHostName(m_settings.host);
            connection.setPort(m_settings.port);
            connection.setDatabaseName(m_settings.name);
            connection.setConnectOptions(kPostgresOptions);
        } else {
            connection.setDatabaseName(m_databasePath);
            connection.setConnectOptions(kConnectOptions);
        }
        connection.setUserName(m_userName);
        connection.setPassword(m_password);
        m_handles.insert(name, connection);
        m_statements.insert(name, std::make_shared<StatementCache>(connection));
    }
    bool opened = false;
    if (!waitingToRetry()) {
        // Without the pool's lock: a server may take seconds to answer. Meanwhile the name is
        // registered and neither free nor handed out, as while in use.
        lock.unlock();
        opened = openConfigured(connection);
        lock.lock();
        noteOpened(name, opened, connection.lastError().databaseText());
    }
    if (opened) return connection;
    // Neither in use nor free from now on: drop it so nobody waits for it.
    connection = QSqlDatabase();
    forget(name);
    return QSqlDatabase();
}

bool SQLiteDb::connectionLost(const QSqlDatabase& connection) const {
    PGconn* conn = isPostgreSQL() ? pgConnection(connection) : nullptr;
    return conn && PQstatus(conn) == CONNECTION_BAD;
}

bool SQLiteDb::reopen(QSqlDatabase& connection) {
    std::unique_lock<std::mutex> lock(m_poolMutex);
    const QString name = connection.connectionName();
    if (!isPostgreSQL() || !m_handles.contains(name)) return false;
    noteLost(name);
    m_statements.value(name)->abandon();
    connection.close();
    if (waitingToRetry()) return false;
    lock.unlock();
    const bool opened = openConfigured(connection);
    lock.lock();
    noteOpened(name, opened, connection.lastError().databaseText());
    return opened;
}

bool SQLiteDb::isAway() const {
    std::lock_guard<std::mutex> lock(m_poolMutex);
    return m_away;
}

bool SQLiteDb::waitingToRetry() const {
    return m_away && std::chrono::steady_clock::now() < m_retryAt;
}

// A connection opened before the last recovery was lost in the outage already logged.
void SQLiteDb::noteLost(const QString& name) {
    if (m_away || m_openedIn.value(name) < m_recoveries) return;
    qWarning("[SQLiteDb] the database is away; terminals are answered as unknown until it is back");
    m_away = true;
    m_retryAt = std::chrono::steady_clock::now();
}

void SQLiteDb::noteOpened(const QString& name, bool opened, const QString& reason) {
    if (!isPostgreSQL()) return;
    if (opened) {
        if (m_away) {
            qWarning("[SQLiteDb] the database is back");
            ++m_recoveries;
        }
        m_away = false;
        m_retryDelay = std::chrono::milliseconds(0);
        m_openedIn.insert(name, m_recoveries);
        return;
    }
    if (!m_away)
        qWarning(
            "[SQLiteDb] the database is away; terminals are answered as unknown until it is back");
    // The server's own words (a refused password reads differently from no server), each once.
    const QString said = reason.simplified();
    if (!said.isEmpty() && (!m_away || said != m_awayReason))
        qWarning("[SQLiteDb] the database said: %s", qUtf8Printable(said));
    m_awayReason = said;
    m_away = true;
    m_retryDelay =
        std::min(kLongestRetry, m_retryDelay.count() == 0 ? kFirstRetry : 2 * m_retryDelay);
    m_retryAt = std::chrono::steady_clock::now() + m_retryDelay;
}

// Per-connection settings are applied once per physical open, never per statement.
bool SQLiteDb::openConfigured(QSqlDatabase& connection) {
    if (!connection.open()) return false;
    QSqlQuery pragma(connection);
    // WAL lets readers and one writer work at once; it is stored in the file, so this is cheap
    // after the first time. NORMAL is durable in WAL mode except across a power loss.
    if (isPostgreSQL()) return true;
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
    m_openedIn.remove(name);
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
    // Likewise a connection the server dropped under a statement.
    if (connectionLost(connection)) {
        noteLost(name);
        m_statements.value(name)->abandon();
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
    for (auto it = m_handles.begin(); it != m_handles.end(); ++it)
        if (connectionLost(it.value())) m_statements.value(it.key())->abandon();
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
