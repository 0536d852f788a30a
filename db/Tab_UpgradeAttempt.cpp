#include "db/Tab_UpgradeAttempt.h"

#include <QDebug>
#include <QSqlQuery>
#include <QStringList>

#include "db/DeviceSearch.h"
#include "db/PooledConnection.h"

namespace {
// When the terminal was last heard of for this attempt.
const QString kActivity =
    QStringLiteral("(case when a.lastProgressAt>0 then a.lastProgressAt else a.startedAt end)");

const UpgradeAttemptState kStates[] = {
    UpgradeAttemptState::Running, UpgradeAttemptState::Stalled, UpgradeAttemptState::Completed,
    UpgradeAttemptState::Reverted, UpgradeAttemptState::Superseded};

// The state of the row as one expression, so the rule is written once with stateCondition().
QString stateExpression(qint32 stalledBefore, QVariantList& binds) {
    QString cases;
    for (UpgradeAttemptState state : kStates)
        cases += QStringLiteral(" when %1 then '%2'")
                     .arg(Tab_UpgradeAttempt::stateCondition(state, stalledBefore, binds),
                          QLatin1String(upgradeAttemptStateName(state)));
    return QStringLiteral("case") + cases + QStringLiteral(" end");
}

QString resultExpression(qint32 stalledBefore, QVariantList& binds) {
    QString cases;
    for (int i = 0; i < kAttemptResultCount; ++i) {
        const auto result = static_cast<AttemptResult>(i);
        cases += QStringLiteral(" when %1 then '%2'")
                     .arg(Tab_UpgradeAttempt::resultCondition(result, stalledBefore, binds),
                          QLatin1String(attemptResultName(result)));
    }
    return QStringLiteral("case") + cases + QStringLiteral(" else '' end");
}

UpgradeAttemptState stateFromName(const QString& name) {
    for (UpgradeAttemptState state : kStates)
        if (name == QLatin1String(upgradeAttemptStateName(state))) return state;
    return UpgradeAttemptState::Running;
}

// "a.id,a.devSN,..." for the statements that alias the table as a.
const QString& selectList() {
    static const QString list = Tab_UpgradeAttempt::columns().list(QStringLiteral("a."));
    return list;
}
}  // namespace

const RecordColumns<struUpgradeAttempt>& Tab_UpgradeAttempt::columns() {
    using A = struUpgradeAttempt;
    static const RecordColumns<A> columns("Tab_UpgradeAttempt",
                                          {{"id", &A::id, kKey | kAssigned},
                                           {"devSN", &A::devSN},
                                           {"devType", &A::devType},
                                           {"packageId", &A::packageId},
                                           {"packageName", &A::packageName},
                                           {"fromAppVersion", &A::fromAppVersion},
                                           {"fromMcuVersion", &A::fromMcuVersion},
                                           {"fromFourGVersion", &A::fromFourGVersion},
                                           {"fromGnssVersion", &A::fromGnssVersion},
                                           {"fromSmartModule", &A::fromSmartModule},
                                           {"fromCompletionTime", &A::fromCompletionTime},
                                           {"url", &A::url},
                                           {"startedAt", &A::startedAt},
                                           {"lastProgress", &A::lastProgress},
                                           {"lastProgressAt", &A::lastProgressAt},
                                           {"completedAt", &A::completedAt},
                                           {"isCurrent", &A::isCurrent},
                                           {"outcome", &A::outcome},
                                           {"outcomeAt", &A::outcomeAt}});
    return columns;
}

QString Tab_UpgradeAttempt::stateCondition(UpgradeAttemptState state, qint32 stalledBefore,
                                           QVariantList& binds) {
    switch (state) {
        case UpgradeAttemptState::Completed:
            return QStringLiteral("(a.completedAt>0 and a.outcome<>'%1')")
                .arg(QLatin1String(kOutcomeReverted));
        case UpgradeAttemptState::Reverted:
            return QStringLiteral("(a.completedAt>0 and a.outcome='%1')")
                .arg(QLatin1String(kOutcomeReverted));
        case UpgradeAttemptState::Superseded:
            return QStringLiteral("(a.completedAt=0 and a.isCurrent=0)");
        case UpgradeAttemptState::Stalled:
            binds << stalledBefore;
            return QStringLiteral("(a.completedAt=0 and a.isCurrent<>0 and %1<?)").arg(kActivity);
        case UpgradeAttemptState::Running:
            break;
    }
    binds << stalledBefore;
    return QStringLiteral("(a.completedAt=0 and a.isCurrent<>0 and %1>=?)").arg(kActivity);
}

QString Tab_UpgradeAttempt::resultCondition(AttemptResult result, qint32 stalledBefore,
                                            QVariantList& binds) {
    // Whether the terminal started the same upload again after this attempt.
    const QString again = QStringLiteral(
        "exists (select 1 from Tab_UpgradeAttempt later where later.devSN=a.devSN and "
        "later.id>a.id and later.packageId=a.packageId and later.packageName=a.packageName)");
    switch (result) {
        case AttemptResult::Succeeded:
            return QStringLiteral("(a.completedAt>0 and a.outcome='%1')")
                .arg(QLatin1String(kOutcomeSucceeded));
        case AttemptResult::NotTaken:
            return stateCondition(UpgradeAttemptState::Reverted, stalledBefore, binds);
        case AttemptResult::Stalled:
            return stateCondition(UpgradeAttemptState::Stalled, stalledBefore, binds);
        case AttemptResult::Abandoned:
            return QStringLiteral("(a.completedAt=0 and a.isCurrent=0 and %1)").arg(again);
        case AttemptResult::Superseded:
            break;
    }
    return QStringLiteral("(a.completedAt=0 and a.isCurrent=0 and not %1)").arg(again);
}

bool Tab_UpgradeAttempt::start(const struUpgradeAttempt& attempt) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QSqlDatabase& db = connection.database();
    bool ok = connection.transaction();
    if (ok) {
        QSqlQuery older(db);
        older.prepare(QStringLiteral(
            "update Tab_UpgradeAttempt set isCurrent=0 where devSN=? and isCurrent<>0"));
        older.bindValue(0, attempt.devSN);
        QSqlQuery insert(db);
        static const QString statement = columns().insert();
        ok = older.exec() && insert.prepare(statement);
        if (ok) {
            columns().bindInsert(insert, attempt);
            ok = insert.exec();
        }
    }
    if (ok && connection.commit()) return true;
    connection.rollback();
    qDebug("insert upgrade attempt fail");
    return false;
}

bool Tab_UpgradeAttempt::progress(const QString& devSN, int percent, qint32 now, bool* stored) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QSqlQuery query(connection.database());
    query.prepare(QStringLiteral(
        "update Tab_UpgradeAttempt set lastProgress=?,lastProgressAt=?,completedAt=? "
        "where devSN=? and isCurrent<>0 and completedAt=0"));
    query.bindValue(0, percent);
    query.bindValue(1, now);
    query.bindValue(2, percent == 100 ? now : 0);
    query.bindValue(3, devSN);
    if (query.exec()) {
        if (stored) *stored = query.numRowsAffected() > 0;
        return true;
    }
    qDebug("update upgrade attempt fail");
    return false;
}

bool Tab_UpgradeAttempt::completedUnjudged(const QString& devSN, struUpgradeAttempt& attempt,
                                           bool& found) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    static const QString statement =
        QStringLiteral(
            "select %1 from Tab_UpgradeAttempt a where a.devSN=? and a.isCurrent<>0 "
            "and a.completedAt>0 and a.outcome=''")
            .arg(selectList());
    QSqlQuery& query = connection.prepare(statement);
    query.bindValue(0, devSN);
    if (!query.exec()) {
        qDebug("query upgrade attempt fail");
        return false;
    }
    found = query.next();
    if (found) columns().read(query, attempt);
    return true;
}

bool Tab_UpgradeAttempt::judge(qint32 attemptId, const QString& outcome, qint32 now) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QSqlQuery query(connection.database());
    query.prepare(
        QStringLiteral("update Tab_UpgradeAttempt set outcome=?,outcomeAt=? where id=? and "
                       "outcome=''"));
    query.bindValue(0, outcome);
    query.bindValue(1, now);
    query.bindValue(2, attemptId);
    if (query.exec()) return true;
    qDebug("update upgrade attempt fail");
    return false;
}

bool Tab_UpgradeAttempt::list(const Filter& filter, int offset, int limit, QList<Row>& rows,
                              int& total) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QVariantList whereBinds;
    QStringList where;
    if (!filter.devSN.isEmpty()) {
        where << QStringLiteral("a.devSN=?");
        whereBinds << filter.devSN;
    }
    if (!filter.serialPart.isEmpty()) {
        // The terminals' search index narrows the serials quickly; it also holds plates and
        // phone numbers, so the serial itself is compared afterwards. Attempts of terminals no
        // longer in the device table are not found this way.
        where << QStringLiteral("a.devSN in (select d.devSN from Tab_DeviceInfo d where %1)")
                     .arg(DeviceSearch::condition(connection.database(), filter.serialPart, true,
                                                  whereBinds));
        where << QStringLiteral("lower(a.devSN) like ? escape '\\'");
        whereBinds << DeviceSearch::likePattern(filter.serialPart.toLower());
    }
    if (!filter.devType.isEmpty()) {
        where << QStringLiteral("a.devType=?");
        whereBinds << filter.devType;
    }
    if (filter.packageId != 0) {
        where << QStringLiteral("a.packageId=?");
        whereBinds << filter.packageId;
    }
    if (filter.startedFrom > 0) {
        where << QStringLiteral("a.startedAt>=?");
        whereBinds << filter.startedFrom;
    }
    if (filter.startedTo > 0) {
        where << QStringLiteral("a.startedAt<?");
        whereBinds << filter.startedTo;
    }
    if (filter.byState) where << stateCondition(filter.state, filter.stalledBefore, whereBinds);
    if (filter.byResult) where << resultCondition(filter.result, filter.stalledBefore, whereBinds);
    const QString whereText = where.isEmpty()
                                  ? QString()
                                  : QStringLiteral(" where ") + where.join(QStringLiteral(" and "));

    QSqlQuery* count = connection.read(
        QStringLiteral("select count(*) from Tab_UpgradeAttempt a") + whereText, whereBinds);
    if (!count || !count->next()) {
        qDebug("query upgrade attempt fail");
        return false;
    }
    total = count->value(0).toInt();
    count->finish();

    QVariantList binds;
    const QString state = stateExpression(filter.stalledBefore, binds);
    const QString result = resultExpression(filter.stalledBefore, binds);
    binds << whereBinds << limit << offset;
    QSqlQuery* page = connection.read(
        QStringLiteral("select %1,%2,%3 from Tab_UpgradeAttempt a%4 order by a.id desc "
                       "limit ? offset ?")
            .arg(selectList(), state, result, whereText),
        binds);
    if (!page) {
        qDebug("query upgrade attempt fail");
        return false;
    }
    rows.clear();
    while (page->next()) {
        Row row;
        columns().read(*page, row.attempt);
        row.state = stateFromName(page->value(columns().count()).toString());
        row.result = page->value(columns().count() + 1).toString();
        rows << row;
    }
    return true;
}

bool Tab_UpgradeAttempt::failedTerminals(qint32 packageId, const QString& packageName,
                                         qint32 stalledBefore, int offset, int limit,
                                         QList<Failed>& rows, int& total) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    // The binds in the order their places appear in the text.
    QVariantList groupBinds;
    const QString notTaken = resultCondition(AttemptResult::NotTaken, stalledBefore, groupBinds);
    groupBinds << packageId << packageName;
    QStringList failed;
    for (AttemptResult result :
         {AttemptResult::NotTaken, AttemptResult::Stalled, AttemptResult::Abandoned})
        failed << resultCondition(result, stalledBefore, groupBinds);
    const QString succeeded = resultCondition(AttemptResult::Succeeded, stalledBefore, groupBinds);
    const QString grouped =
        QStringLiteral(
            "(select a.devSN devSN,max(a.id) lastId,count(*) attempts,"
            "sum(case when %1 then 1 else 0 end) notTaken from Tab_UpgradeAttempt a "
            "where a.packageId=? and a.packageName=? group by a.devSN "
            "having sum(case when %2 then 1 else 0 end)>0 and "
            "sum(case when %3 then 1 else 0 end)=0) g")
            .arg(notTaken, failed.join(QStringLiteral(" or ")), succeeded);

    QSqlQuery* count =
        connection.read(QStringLiteral("select count(*) from ") + grouped, groupBinds);
    if (!count || !count->next()) {
        qDebug("query failed upgrades fail");
        return false;
    }
    total = count->value(0).toInt();
    count->finish();

    QVariantList binds;
    const QString result = resultExpression(stalledBefore, binds);
    binds << groupBinds << limit << offset;
    QSqlQuery* page = connection.read(
        QStringLiteral("select %1,%2,g.attempts,g.notTaken from %3 join Tab_UpgradeAttempt a on "
                       "a.id=g.lastId order by a.devSN limit ? offset ?")
            .arg(selectList(), result, grouped),
        binds);
    if (!page) {
        qDebug("query failed upgrades fail");
        return false;
    }
    rows.clear();
    const int at = columns().count();
    while (page->next()) {
        Failed row;
        columns().read(*page, row.last);
        row.devSN = row.last.devSN;
        row.lastResult = page->value(at).toString();
        row.attempts = page->value(at + 1).toInt();
        row.notTaken = page->value(at + 2).toInt();
        rows << row;
    }
    return true;
}
