#include "db/Tab_DeviceInfo.h"

#include <sqlite3.h>

#include <functional>

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

#include "db/PooledConnection.h"
#include "db/SqlDialect.h"

namespace {
using Write = Tab_DeviceInfo::Write;

const QString kCount = QStringLiteral("select Count(1) from Tab_DeviceInfo where devSN=:devSN");
const QString kClearAutoUpdate =
    QStringLiteral("update Tab_DeviceInfo set isAutoUpdate=:isAutoUpdate");
const QString kCompleteUpgrade = QStringLiteral(
    "update Tab_DeviceInfo set UpgradeCompletionTime=:UpgradeCompletionTime,isAutoUpdate=0 "
    "where devSN=:devSN");
const QString kRevertCompletion = QStringLiteral(
    "update Tab_DeviceInfo set UpgradeCompletionTime=:before where devSN=:devSN and "
    "UpgradeCompletionTime>=:since");
const QString kClearConfigCmd = QStringLiteral(
    "update Tab_DeviceInfo set ConfigCmd='' where devSN=:devSN and ConfigCmd=:ConfigCmd");
const QString kPin =
    QStringLiteral("update Tab_DeviceInfo set IdentityPinned=1 where devSN=:devSN");
const QString kReleasePin =
    QStringLiteral("update Tab_DeviceInfo set IdentityPinned=0 where devSN=:devSN");

// The lookups by serial number: one text each for the life of the process, as the SQLite
// statement cache knows it by its address. The second adds, as one more column, whether an
// upgrade of the terminal waits for its outcome to be judged.
const char* selectBySN(bool withOutcome) {
    static const QByteArray select =
        Tab_DeviceInfo::columns().select(QStringLiteral("where devSN=?")).toLatin1();
    static const QByteArray withPending =
        QStringLiteral(
            "select %1,exists(select 1 from Tab_UpgradeAttempt a where "
            "a.devSN=Tab_DeviceInfo.devSN and a.isCurrent<>0 and a.completedAt>0 and "
            "a.outcome='') from Tab_DeviceInfo where devSN=?")
            .arg(Tab_DeviceInfo::columns().list())
            .toLatin1();
    return withOutcome ? withPending.constData() : select.constData();
}

bool isInsert(Write write) {
    return write == Write::kInsert || write == Write::kInsertWithTime;
}

const QString& statement(Write write) {
    static const QString statements[] = {Tab_DeviceInfo::columns().insert(Write::kInsert),
                                         Tab_DeviceInfo::columns().insert(Write::kInsertWithTime),
                                         Tab_DeviceInfo::columns().update(Write::kUpdate),
                                         Tab_DeviceInfo::columns().update(Write::kUpdateWithTime),
                                         Tab_DeviceInfo::columns().update(Write::kReport),
                                         Tab_DeviceInfo::columns().update(Write::kReportPin)};
    int bit = 0;
    while ((1u << bit) != write) ++bit;
    return statements[bit];
}

QSqlQuery& prepareWrite(PooledConnection& connection, Write write, const struDeviceInfo& device) {
    QSqlQuery& query = connection.prepare(statement(write));
    if (isInsert(write))
        Tab_DeviceInfo::columns().bindInsert(query, device, write);
    else
        Tab_DeviceInfo::columns().bindUpdate(query, device, write);
    return query;
}

void readList(QSqlQuery& query, QList<struDeviceInfo>& devices, bool trimConfigCmd) {
    devices.clear();
    const int rowNum = Tab_DeviceInfo::columns().count();
    while (query.next()) {
        struDeviceInfo device;
        device.row_num = query.value(rowNum).toInt();
        Tab_DeviceInfo::columns().read(query, device);
        if (trimConfigCmd) device.ConfigCmd = device.ConfigCmd.trimmed();
        devices.append(device);
    }
}

// The list statements: empty filters are left out. Only the plain device list shows the
// command trimmed; the search shows it as stored.
bool listDevices(QList<struDeviceInfo>& devices, const QString& devSN, const QString& PhoneNumber,
                 bool trimConfigCmd) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    const bool postgres = SqlDialect::isPostgreSQL(connection.database());
    // No rowid in PostgreSQL: the key stands in for it, and rows come in its order as SQLite
    // gives them.
    QString statement = QStringLiteral("select %1,%2 from Tab_DeviceInfo")
                            .arg(Tab_DeviceInfo::columns().list(),
                                 postgres ? QStringLiteral("id") : QStringLiteral("rowid"));
    if (!devSN.isEmpty()) statement += QStringLiteral(" where devSN=:devSN");
    if (!PhoneNumber.isEmpty()) {
        statement += devSN.isEmpty() ? QStringLiteral(" where") : QStringLiteral(" and");
        statement += QStringLiteral(" PhoneNumber=:PhoneNumber");
    }
    if (postgres) statement += QStringLiteral(" order by id");
    QSqlQuery& query = connection.prepare(statement);
    if (!devSN.isEmpty()) query.bindValue(QStringLiteral(":devSN"), devSN);
    if (!PhoneNumber.isEmpty()) query.bindValue(QStringLiteral(":PhoneNumber"), PhoneNumber);
    QSqlQuery* rows = connection.read(query);
    if (!rows) {
        qDebug("query Tab_DeviceInfo fail ");
        return false;
    }
    readList(*rows, devices, trimConfigCmd);
    return true;
}

// The lookup through Qt's driver, where there is no SQLite statement to step.
Tab_DeviceInfo::RowState lookupBySN(PooledConnection& connection, struDeviceInfo& device,
                                    const QString& devSN, bool* outcomePending) {
    static const QString statements[] = {QString::fromLatin1(selectBySN(false)),
                                         QString::fromLatin1(selectBySN(true))};
    QSqlQuery& query = connection.prepare(statements[outcomePending ? 1 : 0]);
    query.bindValue(0, devSN);
    QSqlQuery* row = connection.read(query);
    if (!row) {
        qDebug("query device fail ");
        return Tab_DeviceInfo::RowState::Failed;
    }
    if (!row->next()) return Tab_DeviceInfo::RowState::Missing;
    Tab_DeviceInfo::columns().read(*row, device);
    if (outcomePending) *outcomePending = row->value(Tab_DeviceInfo::columns().count()).toBool();
    return Tab_DeviceInfo::RowState::Found;
}

// Runs one prepared write and reports whether it touched a row; false also when it failed.
bool execWrite(QSqlQuery& query, bool& failed) {
    failed = !query.exec();
    return !failed && query.numRowsAffected() > 0;
}

// One update on a borrowed connection, prepared and bound by prepare; true when it changed a
// row. failed, when given, tells a statement that could not run from one that matched nothing.
bool updateRow(const std::function<QSqlQuery&(PooledConnection&)>& prepare,
               bool* failed = nullptr) {
    PooledConnection connection;
    if (!connection.checkUsable()) {
        if (failed) *failed = true;
        return false;
    }
    bool execFailed = false;
    const bool written = execWrite(prepare(connection), execFailed);
    if (execFailed) qDebug("update Tab_DeviceInfo fail ");
    if (failed) *failed = execFailed;
    return written;
}
}  // namespace

const RecordColumns<struDeviceInfo>& Tab_DeviceInfo::columns() {
    using D = struDeviceInfo;
    constexpr unsigned kWritten = kInsert | kInsertWithTime | kUpdate | kUpdateWithTime;
    constexpr unsigned kReported = kWritten | kReport | kReportPin;
    // In the order the lookup and the documents show them.
    static const RecordColumns<D> columns(
        "Tab_DeviceInfo",
        {{"id", &D::id, kAssigned},
         {"devId", &D::devId, kWritten | kReportPin},
         {"devSN", &D::devSN, kInsert | kInsertWithTime | kKey},
         {"devType", &D::devType, kReported},
         {"LicensePlateNumber", &D::LicensePlateNumber, kReported},
         {"PhoneNumber", &D::PhoneNumber, kReported},
         {"AppVersion", &D::AppVersion, kReported},
         {"McuVersion", &D::McuVersion, kReported},
         {"FourGVersion", &D::FourGVersion, kReported},
         {"GnssVersion", &D::GnssVersion, kReported},
         {"SmartModule", &D::SmartModule, kReported},
         {"Reserve", &D::Reserve, kReported},
         {"isAutoUpdate", &D::isAutoUpdate, kWritten},
         {"ConfigCmd", &D::ConfigCmd, kWritten},
         {"UpgradeCompletionTime", &D::UpgradeCompletionTime, kInsertWithTime | kUpdateWithTime},
         {"GetLogFile", &D::GetLogFile, kWritten},
         {"GetIndexFile", &D::GetIndexFile, kWritten},
         {"GetPrintFile", &D::GetPrintFile, kWritten},
         {"GetRunInfoFile", &D::GetRunInfoFile, kWritten},
         // A terminal's own first report pins its row (the column default); a row an operator
         // adds pins at the terminal's first report.
         {"IdentityPinned", &D::IdentityPinned, kInsert | kReportPin},
         // Written by the report's own statements, never from an operator's record.
         {"LastReportTime", &D::LastReportTime, kInsertWithTime | kReport | kReportPin}});
    return columns;
}

bool Tab_DeviceInfo::insertDevice(const struDeviceInfo& device) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QSqlQuery& query = prepareWrite(connection, kInsertWithTime, device);
    bool failed = false;
    const bool written = execWrite(query, failed);
    if (failed) qDebug("insert device fail ");
    return written;
}

bool Tab_DeviceInfo::saveDevice(const struDeviceInfo& device, bool pin) {
    if (device.devSN.isEmpty()) return false;
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QSqlQuery& countQuery = connection.prepare(kCount);
    countQuery.bindValue(QStringLiteral(":devSN"), device.devSN);
    QSqlQuery* count = connection.read(countQuery);
    if (!count) {
        qDebug("query device fail ");
        return false;
    }
    if (!count->next() || !count->value(0).isValid()) return false;
    const int rows = count->value(0).toInt();
    count->finish();  // release the read before writing

    const Write statement = rows < 1 ? kInsert : kUpdate;
    struDeviceInfo row = device;
    row.IdentityPinned = pin && !device.devId.isEmpty();
    QSqlQuery& write = prepareWrite(connection, statement, row);
    bool failed = false;
    bool written = execWrite(write, failed);
    if (written && statement == kUpdate && row.IdentityPinned) {
        QSqlQuery& pin = connection.prepare(kPin);
        pin.bindValue(QStringLiteral(":devSN"), device.devSN);
        written = execWrite(pin, failed);
    }
    if (failed) qDebug("insert device fail ");
    return written;
}

bool Tab_DeviceInfo::getAllDevices(QList<struDeviceInfo>& devices) {
    return listDevices(devices, QString(), QString(), true);
}

bool Tab_DeviceInfo::queryDevices(QList<struDeviceInfo>& devices, const QString& devSN,
                                  const QString& PhoneNumber) {
    return listDevices(devices, devSN, PhoneNumber, false);
}

Tab_DeviceInfo::RowState Tab_DeviceInfo::getDeviceBySN(struDeviceInfo& device, const QString& devSN,
                                                       bool* outcomePending) {
    PooledConnection connection;
    if (!connection.checkUsable()) return RowState::Failed;
    if (SqlDialect::isPostgreSQL(connection.database()))
        return lookupBySN(connection, device, devSN, outcomePending);
    sqlite3_stmt* stmt = connection.prepareRaw(selectBySN(outcomePending != nullptr));
    if (!stmt) {
        qDebug("query device fail ");
        return RowState::Failed;
    }
    const QByteArray serial = devSN.toUtf8();
    sqlite3_bind_text(stmt, 1, serial.constData(), serial.size(), SQLITE_STATIC);
    const int step = sqlite3_step(stmt);
    if (step == SQLITE_ROW) {
        columns().read(stmt, device);
        if (outcomePending) *outcomePending = sqlite3_column_int(stmt, columns().count()) != 0;
        return RowState::Found;
    }
    if (step == SQLITE_DONE) return RowState::Missing;
    qDebug("query device fail ");
    return RowState::Failed;
}

bool Tab_DeviceInfo::getDevicesBySN(const QStringList& serials, QHash<QString, Found>& found) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    const bool postgres = SqlDialect::isPostgreSQL(connection.database());
    // PostgreSQL takes the list as one array value; SQLite as a JSON array. On PostgreSQL each
    // serial number is looked up through the index as the single lookup is, whatever the
    // planner's statistics say: a fleet registered a moment ago has none yet, and "devSN=any(?)"
    // then read the whole table for every batch.
    static const QString statements[] = {
        QString::fromLatin1(selectBySN(true))
            .replace(QStringLiteral("devSN=?"),
                     QStringLiteral("devSN in (select value from json_each(?))")),
        QString::fromLatin1(selectBySN(true))
            .replace(QStringLiteral("from Tab_DeviceInfo where devSN=?"),
                     QStringLiteral("from unnest(?::text[]) s(sn) cross join lateral (select * "
                                    "from Tab_DeviceInfo where devSN=s.sn limit 1) "
                                    "Tab_DeviceInfo"))};
    QSqlQuery& query = connection.prepare(statements[postgres ? 1 : 0]);
    QString list;
    if (postgres) {
        QStringList quoted;
        for (QString serial : serials)
            quoted << QLatin1Char('"') +
                          serial.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
                              .replace(QLatin1Char('"'), QStringLiteral("\\\"")) +
                          QLatin1Char('"');
        list = QLatin1Char('{') + quoted.join(QLatin1Char(',')) + QLatin1Char('}');
    } else {
        list = QString::fromUtf8(
            QJsonDocument(QJsonArray::fromStringList(serials)).toJson(QJsonDocument::Compact));
    }
    query.bindValue(0, list);
    QSqlQuery* rows = connection.read(query);
    if (!rows) {
        qDebug("query device fail ");
        return false;
    }
    const int pending = columns().count();
    while (rows->next()) {
        Found row;
        columns().read(*rows, row.device);
        row.outcomePending = rows->value(pending).toBool();
        found.insert(row.device.devSN, row);
    }
    return true;
}

bool Tab_DeviceInfo::clearAutoUpdate() {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QSqlQuery& query = connection.prepare(kClearAutoUpdate);
    query.bindValue(QStringLiteral(":isAutoUpdate"), 0);
    bool failed = false;
    const bool written = execWrite(query, failed);
    if (failed) qDebug("update Tab_DeviceInfo fail ");
    return written;
}

bool Tab_DeviceInfo::refreshFromReport(const struDeviceInfo& report, bool pin) {
    return updateRow([&](PooledConnection& connection) -> QSqlQuery& {
        QSqlQuery& query = connection.prepare(statement(pin ? kReportPin : kReport));
        struDeviceInfo row = report;
        row.IdentityPinned = true;  // bound by the pinning statement only
        columns().bindUpdate(query, row, pin ? kReportPin : kReport);
        return query;
    });
}

QString Tab_DeviceInfo::reportStatementFrom(bool pin) {
    return columns().updateFrom(pin ? kReportPin : kReport, columns().rowsFromJson());
}

void Tab_DeviceInfo::appendReport(QByteArray& array, const struDeviceInfo& report, bool pin) {
    struDeviceInfo row = report;
    row.IdentityPinned = true;  // carried by the pinning statement only
    columns().appendJsonElement(array, row, pin ? kReportPin : kReport);
}

bool Tab_DeviceInfo::completeUpgrade(const QString& devSN, qint32 completionTime) {
    return updateRow([&](PooledConnection& connection) -> QSqlQuery& {
        QSqlQuery& query = connection.prepare(kCompleteUpgrade);
        query.bindValue(QStringLiteral(":UpgradeCompletionTime"), completionTime);
        query.bindValue(QStringLiteral(":devSN"), devSN);
        return query;
    });
}

bool Tab_DeviceInfo::revertCompletion(const QString& devSN, qint32 since, qint32 before) {
    return updateRow([&](PooledConnection& connection) -> QSqlQuery& {
        QSqlQuery& query = connection.prepare(kRevertCompletion);
        query.bindValue(QStringLiteral(":before"), before);
        query.bindValue(QStringLiteral(":devSN"), devSN);
        query.bindValue(QStringLiteral(":since"), since);
        return query;
    });
}

bool Tab_DeviceInfo::clearConfigCmd(const QString& devSN, const QString& sentCommand) {
    return updateRow([&](PooledConnection& connection) -> QSqlQuery& {
        QSqlQuery& query = connection.prepare(kClearConfigCmd);
        query.bindValue(QStringLiteral(":devSN"), devSN);
        query.bindValue(QStringLiteral(":ConfigCmd"), sentCommand);
        return query;
    });
}

bool Tab_DeviceInfo::clearFileRequest(const QString& devSN, bool struDeviceInfo::*flag) {
    const int column = columns().indexOf(flag);
    if (column < 0) return false;
    const QString statement = QStringLiteral("update Tab_DeviceInfo set %1=0 where devSN=:devSN")
                                  .arg(QLatin1String(columns().name(column)));
    return updateRow([&](PooledConnection& connection) -> QSqlQuery& {
        QSqlQuery& query = connection.prepare(statement);
        query.bindValue(QStringLiteral(":devSN"), devSN);
        return query;
    });
}

Tab_DeviceInfo::RowState Tab_DeviceInfo::releasePin(const QString& devSN) {
    bool failed = false;
    const bool changed = updateRow(
        [&](PooledConnection& connection) -> QSqlQuery& {
            QSqlQuery& query = connection.prepare(kReleasePin);
            query.bindValue(QStringLiteral(":devSN"), devSN);
            return query;
        },
        &failed);
    if (failed) return RowState::Failed;
    return changed ? RowState::Found : RowState::Missing;
}

bool Tab_DeviceInfo::updateDevice(const struDeviceInfo& device) {
    PooledConnection connection;
    if (!connection.checkUsable()) return false;
    QSqlQuery& query = prepareWrite(connection, kUpdateWithTime, device);
    bool failed = false;
    const bool written = execWrite(query, failed);
    if (failed) qDebug("update Tab_DeviceInfo fail ");
    return written;
}
