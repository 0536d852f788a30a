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

bool Tab_AuditLog::insertEntry(const struAuditEntry& entry) {
    SqlStatement insert(
        QStringLiteral("insert into Tab_AuditLog(at,account,address,route,action,summary) "
                       "values(:at,:account,:address,:route,:action,:summary)"));
    insert.bind(QStringLiteral(":at"), entry.at)
        .bind(QStringLiteral(":account"), entry.account)
        .bind(QStringLiteral(":address"), entry.address)
        .bind(QStringLiteral(":route"), entry.route)
        .bind(QStringLiteral(":action"), entry.action)
        .bind(QStringLiteral(":summary"), entry.summary);
    return insert.exec();
}

bool Tab_AuditLog::queryEntries(const QString& account, const QString& action, int offset,
                                int limit, QList<struAuditEntry>& entries, qint64& total) {
    SqlStatement count(QStringLiteral("select count(*) as n ") + kFilter);
    bindFilter(count, account, action);
    if (!count.exec() || !count.next()) return false;
    total = count.value("n").toLongLong();

    SqlStatement query(QStringLiteral("select id,at,account,address,route,action,summary ") +
                       kFilter + QStringLiteral("order by id desc limit :limit offset :offset"));
    bindFilter(query, account, action);
    query.bind(QStringLiteral(":limit"), limit).bind(QStringLiteral(":offset"), offset);
    if (!query.exec()) return false;
    entries.clear();
    while (query.next()) {
        struAuditEntry entry;
        entry.id = query.value("id").toLongLong();
        entry.at = query.value("at").toLongLong();
        entry.account = query.value("account").toString();
        entry.address = query.value("address").toString();
        entry.route = query.value("route").toString();
        entry.action = query.value("action").toString();
        entry.summary = query.value("summary").toString();
        entries.append(entry);
    }
    return true;
}
