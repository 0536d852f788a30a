#include "db/DeviceEditor.h"

#include <QDebug>
#include <QSqlQuery>
#include <QStringList>

#include "db/ColumnKind.h"
#include "db/DeviceColumns.h"
#include "db/DeviceConditions.h"
#include "db/PooledConnection.h"

namespace {
// Texts are stored as '' rather than NULL and flags as 0 or 1, as the record statements do.
QVariant stored(const DeviceEditor::Change& change) {
    switch (DeviceColumns::kind(change.first)) {
        case ColumnKind::Text:
            return change.second.toString().isNull() ? QStringLiteral("")
                                                     : change.second.toString();
        case ColumnKind::Flag:
            return change.second.toBool() ? 1 : 0;
        case ColumnKind::Integer:
            break;
    }
    return change.second.toInt();
}

QString setList(const QList<DeviceEditor::Change>& changes, QVariantList& binds) {
    QStringList sets;
    for (const DeviceEditor::Change& change : changes) {
        sets << QLatin1String(DeviceColumns::name(change.first)) + QStringLiteral("=?");
        binds << stored(change);
    }
    return sets.join(QLatin1Char(','));
}

bool exec(QSqlDatabase& db, const QString& statement, const QVariantList& binds, int* affected) {
    QSqlQuery query(db);
    if (!query.prepare(statement)) return false;
    for (int i = 0; i < binds.size(); ++i) query.bindValue(i, binds.at(i));
    if (!query.exec()) return false;
    if (affected) *affected = query.numRowsAffected();
    return true;
}

bool writeRow(QSqlDatabase& db, const DeviceEditor::RowWrite& row) {
    QVariantList binds;
    if (!row.insert) {
        if (row.changes.isEmpty()) return true;
        const QString sets = setList(row.changes, binds);
        binds << row.devSN;
        return exec(db, QStringLiteral("update Tab_DeviceInfo set %1 where devSN=?").arg(sets),
                    binds, nullptr);
    }
    QStringList names{QStringLiteral("devSN")};
    QStringList marks{QStringLiteral("?")};
    binds << row.devSN;
    for (const DeviceEditor::Change& change : row.changes) {
        names << QLatin1String(DeviceColumns::name(change.first));
        marks << QStringLiteral("?");
        binds << stored(change);
    }
    return exec(db,
                QStringLiteral("insert into Tab_DeviceInfo(%1) values(%2)")
                    .arg(names.join(QLatin1Char(',')), marks.join(QLatin1Char(','))),
                binds, nullptr);
}
}  // namespace

bool DeviceEditor::updateOne(const QString& devSN, const QList<Change>& changes, int& affected) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QVariantList binds;
    const QString sets = setList(changes, binds);
    binds << devSN;
    if (exec(connection.database(),
             QStringLiteral("update Tab_DeviceInfo set %1 where devSN=?").arg(sets), binds,
             &affected))
        return true;
    qDebug("update Tab_DeviceInfo fail ");
    return false;
}

bool DeviceEditor::updateMatching(const DeviceFilter& filter, const QList<Change>& changes,
                                  int& affected) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QVariantList binds;
    const QString sets = setList(changes, binds);
    const QString where = DeviceConditions::where(connection.database(), filter, binds);
    if (exec(connection.database(),
             QStringLiteral("update Tab_DeviceInfo set %1 where id in (select d.id from "
                            "Tab_DeviceInfo d%2)")
                 .arg(sets, where),
             binds, &affected))
        return true;
    qDebug("update Tab_DeviceInfo fail ");
    return false;
}

bool DeviceEditor::applyRows(const QList<RowWrite>& rows) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QSqlDatabase& db = connection.database();
    bool ok = db.transaction();
    for (int i = 0; ok && i < rows.size(); ++i) ok = writeRow(db, rows.at(i));
    if (ok && db.commit()) return true;
    db.rollback();
    qDebug("update Tab_DeviceInfo fail ");
    return false;
}
