#include "db/PooledConnection.h"

#include <sqlite3.h>

#include <QDebug>

#include "db/PinnedTransaction.h"
#include "db/SQLiteDb.h"
#include "db/StatementCache.h"

PooledConnection::PooledConnection() : m_pool(SQLiteDb::instance()) {
    if (!m_pool) return;
    if (PinnedTransaction* scope = PinnedTransaction::current()) {
        m_pinned = true;
        m_connection = scope->connection();
        m_statements = scope->statements();
        scope->beforeStatement();
    } else {
        m_connection = m_pool->openConnection();
        if (m_connection.isValid()) m_statements = m_pool->statements(m_connection);
    }
    m_timer.start(m_pool->metrics());
}

PooledConnection::~PooledConnection() {
    for (QSqlQuery* query : m_used) query->finish();
    m_own.clear();
    for (sqlite3_stmt* stmt : m_usedRaw) {
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
    }
    if (m_pool && !m_pinned && m_connection.isValid()) m_pool->closeConnection(m_connection);
}

bool PooledConnection::isUsable() const {
    return m_statements && m_connection.isValid() && m_connection.isOpen();
}

bool PooledConnection::checkUsable() const {
    if (isUsable()) return true;
    // A server that is away was logged once by the pool, with its reason.
    if (!m_pool || !m_pool->isAway()) qDebug("Open the database fail");
    return false;
}

bool PooledConnection::transaction() {
    return m_pinned ? inScope("savepoint own") : m_connection.transaction();
}

bool PooledConnection::commit() {
    return m_pinned ? inScope("release savepoint own") : m_connection.commit();
}

void PooledConnection::rollback() {
    if (!m_pinned) {
        m_connection.rollback();
        return;
    }
    inScope("rollback to savepoint own");
    inScope("release savepoint own");
}

bool PooledConnection::inScope(const char* sql) {
    QSqlQuery query(m_connection);
    return query.exec(QString::fromLatin1(sql));
}

QSqlQuery& PooledConnection::prepare(const QString& sql) {
    Q_ASSERT(m_statements);
    QSqlQuery& query = m_statements->prepare(sql);
    m_used.push_back(&query);
    return query;
}

sqlite3_stmt* PooledConnection::prepareRaw(const char* sql) {
    Q_ASSERT(m_statements);
    sqlite3_stmt* stmt = m_statements->prepareRaw(sql);
    if (stmt) m_usedRaw.push_back(stmt);
    return stmt;
}

QSqlQuery& PooledConnection::prepareOwn(const QString& sql) {
    m_own.push_back(std::make_unique<QSqlQuery>(m_connection));
    QSqlQuery& query = *m_own.back();
    query.setForwardOnly(true);
    query.prepare(sql);
    return query;
}

QSqlQuery* PooledConnection::read(const QString& statement, const QVariantList& values) {
    Q_ASSERT(m_statements);
    QSqlQuery& query = prepareOwn(statement);
    for (int i = 0; i < values.size(); ++i) query.bindValue(i, values.at(i));
    return read(query);
}

QSqlQuery* PooledConnection::read(QSqlQuery& query) {
    if (query.exec()) return &query;
    // A pinned connection is not reopened: the scope's transaction went with the old one.
    if (!m_pool || m_pinned || !m_pool->connectionLost(m_connection)) return nullptr;
    const QString sql = query.lastQuery();
    QVariantList values;
    for (int i = 0; i < query.boundValues().size(); ++i) values << query.boundValue(i);
    bool cached = false;
    for (QSqlQuery* used : m_used) cached = cached || used == &query;
    // Every statement so far belongs to the connection that is gone.
    StatementCache::keepAside(query);
    for (const auto& own : m_own) StatementCache::keepAside(*own);
    m_used.clear();
    if (!m_pool->reopen(m_connection)) return nullptr;
    QSqlQuery& again = cached ? prepare(sql) : prepareOwn(sql);
    for (int i = 0; i < values.size(); ++i) again.bindValue(i, values.at(i));
    return again.exec() ? &again : nullptr;
}
