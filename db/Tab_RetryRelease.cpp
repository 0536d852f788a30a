#include "db/Tab_RetryRelease.h"

#include <QDebug>
#include <QSqlQuery>

#include "db/PooledConnection.h"
#include "model/struUpgradeAttempt.h"

namespace {
// Per terminal of the upload: its installs that did not take, less those let go of.
QString unreleased(bool oneTerminal) {
    return QStringLiteral(
               "select a.devSN,count(*),coalesce(max(r.failuresReleased),0) from "
               "Tab_UpgradeAttempt a left join Tab_RetryRelease r on r.packageId=a.packageId and "
               "r.devSN=a.devSN and r.packageName=a.packageName where a.packageId=? and "
               "a.packageName=? and a.completedAt>0 and a.outcome='%1'%2 group by a.devSN")
        .arg(QLatin1String(kOutcomeReverted),
             oneTerminal ? QStringLiteral(" and a.devSN=?") : QString());
}

bool query(qint32 packageId, const QString& packageName, const QString& devSN, int limit,
           QList<Tab_RetryRelease::Held>& rows) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QVariantList binds{packageId, packageName};
    if (!devSN.isEmpty()) binds << devSN;
    binds << limit;
    QSqlQuery* found = connection.read(
        unreleased(!devSN.isEmpty()) +
            QStringLiteral(" having count(*)-coalesce(max(r.failuresReleased),0)>=? "
                           "order by a.devSN"),
        binds);
    if (!found) {
        qDebug("query retry release fail");
        return false;
    }
    rows.clear();
    while (found->next()) {
        Tab_RetryRelease::Held row;
        row.devSN = found->value(0).toString();
        row.total = found->value(1).toInt();
        row.failures = row.total - found->value(2).toInt();
        rows << row;
    }
    return true;
}
}  // namespace

bool Tab_RetryRelease::failures(qint32 packageId, const QString& packageName, const QString& devSN,
                                int& count) {
    QList<Held> rows;
    if (!query(packageId, packageName, devSN, 1, rows)) return false;
    count = rows.isEmpty() ? 0 : rows.first().failures;
    return true;
}

bool Tab_RetryRelease::held(qint32 packageId, const QString& packageName, int limit,
                            QList<Held>& rows) {
    return query(packageId, packageName, QString(), limit, rows);
}

bool Tab_RetryRelease::release(qint32 packageId, const QString& packageName, const QString& devSN,
                               int limit, qint32 now, int& released) {
    QList<Held> rows;
    if (!query(packageId, packageName, devSN, limit, rows)) return false;
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    bool ok = connection.transaction();
    QSqlQuery upsert(connection.database());
    ok = ok && upsert.prepare(QStringLiteral(
                   "insert into Tab_RetryRelease(packageId,devSN,packageName,failuresReleased,"
                   "releasedAt) values(?,?,?,?,?) on conflict(packageId,devSN) do update set "
                   "packageName=excluded.packageName,failuresReleased=excluded.failuresReleased,"
                   "releasedAt=excluded.releasedAt"));
    for (const Held& row : rows) {
        if (!ok) break;
        upsert.bindValue(0, packageId);
        upsert.bindValue(1, row.devSN);
        upsert.bindValue(2, packageName);
        upsert.bindValue(3, row.total);
        upsert.bindValue(4, now);
        ok = ok && upsert.exec();
    }
    if (ok && connection.commit()) {
        released = rows.size();
        return true;
    }
    connection.rollback();
    qDebug("write retry release fail");
    return false;
}
