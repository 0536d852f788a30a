#include "StatementCache.h"

QSqlQuery& StatementCache::prepare(const QString& sql) {
    std::unique_ptr<Entry>& entry = m_statements[sql];
    if (!entry) {
        entry.reset(new Entry{QSqlQuery(m_connection), false});
        // Every statement here is read front to back once; no row cache is needed.
        entry->query.setForwardOnly(true);
    }
    if (!entry->prepared) entry->prepared = entry->query.prepare(sql);
    return entry->query;
}
