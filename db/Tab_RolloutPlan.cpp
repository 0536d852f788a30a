#include "db/Tab_RolloutPlan.h"

#include <functional>

#include <QDebug>
#include <QSqlQuery>

#include "db/PooledConnection.h"

namespace {
bool run(QSqlQuery& query, const QString& statement, const QVariantList& values) {
    if (!query.prepare(statement)) return false;
    for (int i = 0; i < values.size(); ++i) query.bindValue(i, values.at(i));
    return query.exec();
}

// Runs work in one transaction; false rolls it back.
bool inTransaction(PooledConnection& connection, const std::function<bool()>& work) {
    if (connection.transaction() && work() && connection.commit()) return true;
    connection.rollback();
    return false;
}

bool writeStages(QSqlDatabase& db, const struRolloutPlan& plan) {
    const RecordColumns<struRolloutStage>& columns = Tab_RolloutPlan::stageColumns();
    QSqlQuery query(db);
    if (!query.prepare(columns.upsert())) return false;
    for (const struRolloutStage& stage : plan.stages) {
        columns.bindAll(query, stage);
        if (!query.exec()) return false;
    }
    return true;
}
}  // namespace

const RecordColumns<struRolloutPlan>& Tab_RolloutPlan::planColumns() {
    using P = struRolloutPlan;
    static const RecordColumns<P> columns("Tab_RolloutPlan",
                                          {{"packageId", &P::packageId, kKey},
                                           {"packageName", &P::packageName},
                                           {"state", &P::state},
                                           {"openStages", &P::openStages},
                                           {"pauseAtFailures", &P::pauseAtFailures},
                                           {"pauseAtFailurePercent", &P::pauseAtFailurePercent},
                                           {"failuresAccepted", &P::failuresAccepted},
                                           {"pausedAt", &P::pausedAt},
                                           {"pauseReason", &P::pauseReason},
                                           {"createdAt", &P::createdAt},
                                           {"createdBy", &P::createdBy},
                                           {"changedAt", &P::changedAt},
                                           {"windows", &P::windows},
                                           {"startAt", &P::startAt}});
    return columns;
}

const RecordColumns<struRolloutStage>& Tab_RolloutPlan::stageColumns() {
    using S = struRolloutStage;
    static const RecordColumns<S> columns("Tab_RolloutStage",
                                          {{"packageId", &S::packageId, kKey},
                                           {"position", &S::position, kKey},
                                           {"sharePoints", &S::sharePoints},
                                           {"filterJson", &S::filterJson},
                                           {"listed", &S::listed},
                                           {"minSeconds", &S::minSeconds},
                                           {"successPercent", &S::successPercent},
                                           {"openedAt", &S::openedAt}});
    return columns;
}

Tab_RolloutPlan::Result Tab_RolloutPlan::load(qint32 packageId, struRolloutPlan& plan) {
    PooledConnection connection;
    if (!connection.checkUsable()) return Result::Failed;
    QSqlQuery row(connection.database());
    row.setForwardOnly(true);
    QSqlQuery stages(connection.database());
    stages.setForwardOnly(true);
    if (!run(row, planColumns().select(QStringLiteral("where packageId=?")), {packageId}) ||
        !run(stages, stageColumns().select(QStringLiteral("where packageId=? order by position")),
             {packageId})) {
        qDebug("query rollout plan fail");
        return Result::Failed;
    }
    if (!row.next()) return Result::Missing;
    struRolloutPlan found;
    planColumns().read(row, found);
    while (stages.next()) {
        struRolloutStage stage;
        stageColumns().read(stages, stage);
        found.stages << stage;
    }
    plan = found;
    return Result::Done;
}

bool Tab_RolloutPlan::replace(const struRolloutPlan& plan,
                              const QList<QPair<QString, int>>& listed) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QSqlDatabase& db = connection.database();
    const bool ok = inTransaction(connection, [&] {
        QSqlQuery query(db);
        if (!run(query, QStringLiteral("delete from Tab_RolloutStage where packageId=?"),
                 {plan.packageId}) ||
            !run(query, QStringLiteral("delete from Tab_RolloutMember where packageId=?"),
                 {plan.packageId}) ||
            !query.prepare(planColumns().upsert()))
            return false;
        planColumns().bindAll(query, plan);
        if (!query.exec() || !writeStages(db, plan)) return false;
        QSqlQuery member(db);
        if (!member.prepare(QStringLiteral(
                "insert into Tab_RolloutMember(packageId,devSN,position) values(?,?,?) "
                "on conflict(packageId,devSN) do nothing")))
            return false;
        for (const auto& entry : listed) {
            member.bindValue(0, plan.packageId);
            member.bindValue(1, entry.first);
            member.bindValue(2, entry.second);
            if (!member.exec()) return false;
        }
        return true;
    });
    if (!ok) qDebug("write rollout plan fail");
    return ok;
}

Tab_RolloutPlan::Result Tab_RolloutPlan::change(const struRolloutPlan& before,
                                                const struRolloutPlan& after) {
    PooledConnection connection;
    if (!connection.checkUsable()) return Result::Failed;
    QSqlDatabase& db = connection.database();
    bool moved = false;
    const bool ok = inTransaction(connection, [&] {
        QSqlQuery query(db);
        if (!query.prepare(planColumns().update(
                0, QStringLiteral("packageName=? and state=? and openStages=? and windows=? and "
                                  "startAt=?"))))
            return false;
        int at = planColumns().bindUpdate(query, after);
        query.bindValue(at++, before.packageName);
        query.bindValue(at++, before.state);
        query.bindValue(at++, before.openStages);
        query.bindValue(at++, before.windows);
        query.bindValue(at, before.startAt);
        if (!query.exec()) return false;
        moved = query.numRowsAffected() == 0;
        return !moved && writeStages(db, after);
    });
    if (moved) return Result::Missing;
    if (ok) return Result::Done;
    qDebug("update rollout plan fail");
    return Result::Failed;
}

bool Tab_RolloutPlan::listedPosition(qint32 packageId, const QString& devSN, int& position) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QSqlQuery query(connection.database());
    query.setForwardOnly(true);
    if (!run(query,
             QStringLiteral("select position from Tab_RolloutMember where packageId=? and devSN=?"),
             {packageId, devSN})) {
        qDebug("query rollout member fail");
        return false;
    }
    position = query.next() ? query.value(0).toInt() : 0;
    return true;
}

bool Tab_RolloutPlan::packageIds(QList<qint32>& packageIds) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QSqlQuery query(connection.database());
    query.setForwardOnly(true);
    if (!run(query, QStringLiteral("select packageId from Tab_RolloutPlan order by packageId"),
             {})) {
        qDebug("query rollout plan fail");
        return false;
    }
    packageIds.clear();
    while (query.next()) packageIds << query.value(0).toInt();
    return true;
}
