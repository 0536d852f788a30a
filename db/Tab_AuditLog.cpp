#include "db/Tab_AuditLog.h"

#include "db/SqlStatement.h"

namespace {
const QString kFilter = QStringLiteral(
    "from Tab_AuditLog where (:account='' or account=:account2) and "
    "(:action='' or action=:action2) ");

void bindFilter(SqlStatement& query, const QString& account, const QString& action) {
    query.bind(QStringLiteral(":account"), account)
        .bind(QStringLiteral(":account2"), account)
        .bind(QStringLiteral(":action"), action)
        .bind(QStringLiteral(":action2"), action);
}
}  // namespace

const RecordColumns<struAuditEntry>& Tab_AuditLog::columns() {
    using E = struAuditEntry;
    static const RecordColumns<E> columns("Tab_AuditLog", {{"id", &E::id, kKey | kAssigned},
                                                           {"at", &E::at},
                                                           {"account", &E::account},
                                                           {"address", &E::address},
                                                           {"route", &E::route},
                                                           {"action", &E::action},
                                                           {"summary", &E::summary}});
    return columns;
}

bool Tab_AuditLog::insertEntry(const struAuditEntry& entry) {
    SqlStatement insert(columns().insert());
    insert.bindRow(columns(), entry);
    return insert.exec();
}

bool Tab_AuditLog::queryEntries(const QString& account, const QString& action, int offset,
                                int limit, QList<struAuditEntry>& entries, qint64& total) {
    SqlStatement count(QStringLiteral("select count(*) as n ") + kFilter);
    bindFilter(count, account, action);
    if (!count.exec() || !count.next()) return false;
    total = count.value("n").toLongLong();

    SqlStatement query(QStringLiteral("select %1 ").arg(columns().list()) + kFilter +
                       QStringLiteral("order by id desc limit :limit offset :offset"));
    bindFilter(query, account, action);
    query.bind(QStringLiteral(":limit"), limit).bind(QStringLiteral(":offset"), offset);
    if (!query.exec()) return false;
    entries.clear();
    while (query.next()) {
        struAuditEntry entry;
        query.readRow(columns(), entry);
        entries.append(entry);
    }
    return true;
}
