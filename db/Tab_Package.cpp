#include "db/Tab_Package.h"

#include <QDebug>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

#include "db/PooledConnection.h"
#include "db/SqlDialect.h"

namespace {
const QString kInsert = QStringLiteral(
    "insert into "
    "Tab_Package(packageName,AppVersion,McuVersion,FourGVersion,GnssVersion,SmartModule,Reserve,"
    "packagePath,uploadTime,size,deviceType,sha256) "
    "values(:packageName,:AppVersion,:McuVersion,:FourGVersion,:GnssVersion,:SmartModule,"
    ":Reserve,:packagePath,:uploadTime,:size,:deviceType,:sha256)");
const QString kUpdateByType = QStringLiteral(
    "update Tab_Package set packageName=:packageName,AppVersion=:AppVersion,"
    "McuVersion=:McuVersion,"
    "FourGVersion=:FourGVersion,GnssVersion=:GnssVersion,SmartModule=:SmartModule,"
    "Reserve=:Reserve,packagePath=:packagePath,"
    "uploadTime=:uploadTime,size=:size,sha256=:sha256 where deviceType=:deviceType");
const QString kSelectById = QStringLiteral("select * from Tab_Package where id=:id");
const QString kSelectByType =
    QStringLiteral("select * from Tab_Package where deviceType=:deviceType");
const QString kSelectByPath =
    QStringLiteral("select * from Tab_Package where packagePath=:packagePath");
const QString kList = QStringLiteral("select rowid as row_num,* from Tab_Package");
// No rowid there: the key stands in for it, and rows come in its order as SQLite gives them.
const QString kListPostgres = QStringLiteral("select id as row_num,* from Tab_Package order by id");
const QString kDelete = QStringLiteral("delete from Tab_Package where id=:id");

// An empty text is stored as '' rather than NULL, so lookups by text behave the same for both.
QVariant text(const QString& value) {
    return value.isNull() ? QVariant(QStringLiteral("")) : QVariant(value);
}

void bindPackage(QSqlQuery& query, const struPackageInfo& p) {
    query.bindValue(QStringLiteral(":packageName"), text(p.packageName));
    query.bindValue(QStringLiteral(":AppVersion"), text(p.AppVersion));
    query.bindValue(QStringLiteral(":McuVersion"), text(p.McuVersion));
    query.bindValue(QStringLiteral(":FourGVersion"), text(p.FourGVersion));
    query.bindValue(QStringLiteral(":GnssVersion"), text(p.GnssVersion));
    query.bindValue(QStringLiteral(":SmartModule"), text(p.SmartModule));
    query.bindValue(QStringLiteral(":Reserve"), text(p.Reserve));
    query.bindValue(QStringLiteral(":packagePath"), text(p.packagePath));
    query.bindValue(QStringLiteral(":uploadTime"), p.uploadTime);
    query.bindValue(QStringLiteral(":size"), p.size);
    query.bindValue(QStringLiteral(":deviceType"), text(p.deviceType));
    query.bindValue(QStringLiteral(":sha256"), text(p.sha256));
}

// The stored fields of the current row; row_num is left to the caller.
void readPackage(const QSqlQuery& q, const QSqlRecord& r, struPackageInfo& p) {
    p.id = q.value(r.indexOf(QStringLiteral("id"))).toInt();
    p.packageName = q.value(r.indexOf(QStringLiteral("packageName"))).toString();
    p.AppVersion = q.value(r.indexOf(QStringLiteral("AppVersion"))).toString();
    p.McuVersion = q.value(r.indexOf(QStringLiteral("McuVersion"))).toString();
    p.FourGVersion = q.value(r.indexOf(QStringLiteral("FourGVersion"))).toString();
    p.GnssVersion = q.value(r.indexOf(QStringLiteral("GnssVersion"))).toString();
    p.SmartModule = q.value(r.indexOf(QStringLiteral("SmartModule"))).toString();
    p.Reserve = q.value(r.indexOf(QStringLiteral("Reserve"))).toString();
    p.packagePath = q.value(r.indexOf(QStringLiteral("packagePath"))).toString();
    p.uploadTime = q.value(r.indexOf(QStringLiteral("uploadTime"))).toInt();
    p.size = q.value(r.indexOf(QStringLiteral("size"))).toInt();
    p.deviceType = q.value(r.indexOf(QStringLiteral("deviceType"))).toString();
    p.sha256 = q.value(r.indexOf(QStringLiteral("sha256"))).toString();
}

// insertPackage and updatePackageByType: one write, no message for a missing connection.
bool writePackage(const QString& statement, const struPackageInfo& package) {
    PooledConnection connection;
    if (!connection.isUsable()) return false;
    QSqlQuery& query = connection.prepare(statement);
    bindPackage(query, package);
    if (!query.exec()) {
        qDebug("insert package fail");
        return false;
    }
    const bool written = query.numRowsAffected() > 0;
    return written;
}

// getPackageById and getPackageByType: the first row found, the record untouched otherwise.
bool selectPackage(const QString& statement, const QString& placeholder, const QVariant& key,
                   struPackageInfo& package) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QSqlQuery& query = connection.prepare(statement);
    query.bindValue(placeholder, key);
    QSqlQuery* rows = connection.read(query);
    if (!rows) {
        qDebug("query device fail ");
        return false;
    }
    const QSqlRecord record = rows->record();  // before next(): no row values copied
    const bool found = rows->next();
    if (found) readPackage(*rows, record, package);
    return found;
}
}  // namespace

bool Tab_Package::insertPackage(const struPackageInfo& package) {
    return writePackage(kInsert, package);
}

bool Tab_Package::updatePackageByType(const struPackageInfo& package) {
    return writePackage(kUpdateByType, package);
}

bool Tab_Package::getPackageById(qint32 id, struPackageInfo& package) {
    return selectPackage(kSelectById, QStringLiteral(":id"), id, package);
}

bool Tab_Package::getPackageByType(const QString& deviceType, struPackageInfo& package) {
    return selectPackage(kSelectByType, QStringLiteral(":deviceType"), text(deviceType.trimmed()),
                         package);
}

bool Tab_Package::getPackageByPath(const QString& packagePath, struPackageInfo& package,
                                   bool& found) {
    found = false;
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QSqlQuery& query = connection.prepare(kSelectByPath);
    query.bindValue(QStringLiteral(":packagePath"), text(packagePath));
    QSqlQuery* rows = connection.read(query);
    if (!rows) {
        qDebug("query package fail");
        return false;
    }
    const QSqlRecord record = rows->record();
    found = rows->next();
    if (found) readPackage(*rows, record, package);
    return true;
}

bool Tab_Package::getAllPackages(QList<struPackageInfo>& packages) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QSqlQuery* rows = connection.read(
        connection.prepare(SqlDialect::twin(connection.database(), kList, kListPostgres)));
    if (!rows) {
        qDebug("query package fail");
        return false;
    }
    packages.clear();
    const QSqlRecord record = rows->record();
    const int rowNum = record.indexOf(QStringLiteral("row_num"));
    while (rows->next()) {
        struPackageInfo package;
        package.row_num = rows->value(rowNum).toInt();
        readPackage(*rows, record, package);
        packages.append(package);
    }
    return true;
}

bool Tab_Package::deletePackage(qint32 id) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QSqlQuery& query = connection.prepare(kDelete);
    query.bindValue(QStringLiteral(":id"), id);
    if (!query.exec()) {
        qDebug("delete package fail");
        return false;
    }
    const bool deleted = query.numRowsAffected() > 0;
    return deleted;
}
