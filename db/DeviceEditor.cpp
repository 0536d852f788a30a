#include "db/DeviceEditor.h"

#include <QDebug>
#include <QSqlQuery>
#include <QStringList>

#include "db/DeviceConditions.h"
#include "db/PooledConnection.h"
#include "db/Tab_DeviceInfo.h"

namespace {
// Stored as the record statements store it: texts as '' rather than NULL, flags as 0 or 1.
QVariant stored(const DeviceEditor::Change& change) {
    const auto& column = Tab_DeviceInfo::columns().columns().at(static_cast<size_t>(change.first));
    struDeviceInfo device;
    column.set(device, change.second);
    return column.stored(device);
}

QString setList(const QList<DeviceEditor::Change>& changes, QVariantList& binds) {
    QStringList sets;
    for (const DeviceEditor::Change& change : changes) {
        sets << QLatin1String(Tab_DeviceInfo::columns().name(change.first)) + QStringLiteral("=?");
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
        names << QLatin1String(Tab_DeviceInfo::columns().name(change.first));
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
    bool ok = connection.transaction();
    for (int i = 0; ok && i < rows.size(); ++i) ok = writeRow(db, rows.at(i));
    if (ok && connection.commit()) return true;
    connection.rollback();
    qDebug("update Tab_DeviceInfo fail ");
    return false;
}
