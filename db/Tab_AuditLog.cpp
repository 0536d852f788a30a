#include "db/Tab_AuditLog.h"

#include "db/SqlStatement.h"

namespace {
const QString kFilter = QStringLiteral(
    "from Tab_AuditLog where (:account='' or account=:account2) and "
    "(:action='' or action=:action2) and (:from=0 or at>=:from2) and (:to=0 or at<:to2) ");

void bindFilter(SqlStatement& query, const Tab_AuditLog::Filter& filter) {
    query.bind(QStringLiteral(":account"), filter.account)
        .bind(QStringLiteral(":account2"), filter.account)
        .bind(QStringLiteral(":action"), filter.action)
        .bind(QStringLiteral(":action2"), filter.action)
        .bind(QStringLiteral(":from"), filter.fromMs)
        .bind(QStringLiteral(":from2"), filter.fromMs)
        .bind(QStringLiteral(":to"), filter.toMs)
        .bind(QStringLiteral(":to2"), filter.toMs);
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

bool Tab_AuditLog::queryEntries(const Filter& filter, int offset, int limit,
                                QList<struAuditEntry>& entries, qint64& total) {
    SqlStatement count(QStringLiteral("select count(*) as n ") + kFilter);
    bindFilter(count, filter);
    if (!count.exec() || !count.next()) return false;
    total = count.value("n").toLongLong();

    SqlStatement query(QStringLiteral("select %1 ").arg(columns().list()) + kFilter +
                       QStringLiteral("order by id desc limit :limit offset :offset"));
    bindFilter(query, filter);
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
