#include "db/Tab_Package.h"

#include <QDebug>
#include <QSqlQuery>
#include <QVariant>

#include "db/PooledConnection.h"
#include "db/SqlDialect.h"

namespace {
const RecordColumns<struPackageInfo>& columns() {
    return Tab_Package::columns();
}

// An empty text is stored as '' rather than NULL, so lookups by text behave the same for both.
QVariant text(const QString& value) {
    return value.isNull() ? QVariant(QStringLiteral("")) : QVariant(value);
}

// insertPackage and updatePackageByType: one write, no message for a missing connection.
bool writePackage(bool update, const struPackageInfo& package) {
    PooledConnection connection;
    if (!connection.isUsable()) return false;
    static const QString insert = columns().insert();
    static const QString updateByType = columns().update();
    QSqlQuery& query = connection.prepare(update ? updateByType : insert);
    if (update)
        columns().bindUpdate(query, package);
    else
        columns().bindInsert(query, package);
    if (!query.exec()) {
        qDebug("insert package fail");
        return false;
    }
    const bool written = query.numRowsAffected() > 0;
    return written;
}

// getPackageById and getPackageByType: the first row found, the record untouched otherwise.
enum class By { Id, Type, Path };

const QString& selectBy(By by) {
    static const QString statements[] = {columns().select(QStringLiteral("where id=?")),
                                         columns().select(QStringLiteral("where deviceType=?")),
                                         columns().select(QStringLiteral("where packagePath=?"))};
    return statements[static_cast<int>(by)];
}

bool selectPackage(By by, const QVariant& key, struPackageInfo& package) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QSqlQuery& query = connection.prepare(selectBy(by));
    query.bindValue(0, key);
    QSqlQuery* rows = connection.read(query);
    if (!rows) {
        qDebug("query device fail ");
        return false;
    }
    const bool found = rows->next();
    if (found) columns().read(*rows, package);
    return found;
}
}  // namespace

const RecordColumns<struPackageInfo>& Tab_Package::columns() {
    using P = struPackageInfo;
    // Updates find the row of the package's device type.
    static const RecordColumns<P> columns("Tab_Package", {{"id", &P::id, kAssigned},
                                                          {"packageName", &P::packageName},
                                                          {"AppVersion", &P::AppVersion},
                                                          {"McuVersion", &P::McuVersion},
                                                          {"FourGVersion", &P::FourGVersion},
                                                          {"GnssVersion", &P::GnssVersion},
                                                          {"SmartModule", &P::SmartModule},
                                                          {"Reserve", &P::Reserve},
                                                          {"packagePath", &P::packagePath},
                                                          {"uploadTime", &P::uploadTime},
                                                          {"size", &P::size},
                                                          {"deviceType", &P::deviceType, kKey},
                                                          {"sha256", &P::sha256}});
    return columns;
}

bool Tab_Package::insertPackage(const struPackageInfo& package) {
    return writePackage(false, package);
}

bool Tab_Package::updatePackageByType(const struPackageInfo& package) {
    return writePackage(true, package);
}

bool Tab_Package::getPackageById(qint32 id, struPackageInfo& package) {
    return selectPackage(By::Id, id, package);
}

bool Tab_Package::getPackageByType(const QString& deviceType, struPackageInfo& package) {
    return selectPackage(By::Type, text(deviceType.trimmed()), package);
}

bool Tab_Package::getPackageByPath(const QString& packagePath, struPackageInfo& package,
                                   bool& found) {
    found = false;
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QSqlQuery& query = connection.prepare(selectBy(By::Path));
    query.bindValue(0, text(packagePath));
    QSqlQuery* rows = connection.read(query);
    if (!rows) {
        qDebug("query package fail");
        return false;
    }
    found = rows->next();
    if (found) columns().read(*rows, package);
    return true;
}

bool Tab_Package::getAllPackages(QList<struPackageInfo>& packages) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    // No rowid in PostgreSQL: the key stands in for it, and rows come in its order as SQLite
    // gives them.
    static const QString list =
        QStringLiteral("select %1,rowid from Tab_Package").arg(columns().list());
    static const QString listPostgres =
        QStringLiteral("select %1,id from Tab_Package order by id").arg(columns().list());
    QSqlQuery* rows = connection.read(
        connection.prepare(SqlDialect::twin(connection.database(), list, listPostgres)));
    if (!rows) {
        qDebug("query package fail");
        return false;
    }
    packages.clear();
    while (rows->next()) {
        struPackageInfo package;
        package.row_num = rows->value(columns().count()).toInt();
        columns().read(*rows, package);
        packages.append(package);
    }
    return true;
}

bool Tab_Package::deletePackage(qint32 id) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QSqlQuery& query = connection.prepare(QStringLiteral("delete from Tab_Package where id=?"));
    query.bindValue(0, id);
    if (!query.exec()) {
        qDebug("delete package fail");
        return false;
    }
    const bool deleted = query.numRowsAffected() > 0;
    return deleted;
}
