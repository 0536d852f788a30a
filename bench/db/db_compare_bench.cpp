// The service's own database calls on the database config.ini of the application directory
// names (SQLite's WFS.db or a PostgreSQL server): bench/db/compare.sh runs it once per database,
// side by side in one run. Prints one line per operation: p50 and p99 in microseconds.
#include <algorithm>
#include <cstdio>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlQuery>

#include "core/AppDir.h"
#include "db/DbSchema.h"
#include "db/DeviceListQuery.h"
#include "db/PooledConnection.h"
#include "db/SQLiteDb.h"
#include "db/Tab_DeviceInfo.h"

namespace {
QString serial(int n) {
    return QStringLiteral("SN%1").arg(n, 7, 10, QLatin1Char('0'));
}

struDeviceInfo makeDevice(int n) {
    struDeviceInfo d;
    d.devSN = serial(n);
    d.devId = QStringLiteral("ID-") + d.devSN;
    d.devType = QStringLiteral("T%1").arg(n % 20);
    d.LicensePlateNumber = QStringLiteral("A-%1").arg(n);
    d.PhoneNumber = QStringLiteral("138%1").arg(n, 8, 10, QLatin1Char('0'));
    d.AppVersion = QStringLiteral("1.0.%1").arg(n % 100);
    d.McuVersion = QStringLiteral("2.0.1");
    d.UpgradeCompletionTime = 1700000000 + n;
    return d;
}

// The terminals in one transaction, through the record insert the service uses.
bool load(int devices) {
    PooledConnection connection;
    if (!connection.isUsable() || !connection.database().transaction()) return false;
    QSqlQuery& insert =
        connection.prepare(Tab_DeviceInfo::columns().insert(Tab_DeviceInfo::kInsertWithTime));
    for (int n = 0; n < devices; ++n) {
        Tab_DeviceInfo::columns().bindInsert(insert, makeDevice(n),
                                             Tab_DeviceInfo::kInsertWithTime);
        if (!insert.exec()) return false;
    }
    if (!connection.database().commit()) return false;
    // What autovacuum would have done by the time a console asks.
    return !SQLiteDb::instance()->isPostgreSQL() ||
           QSqlQuery(connection.database()).exec(QStringLiteral("analyze"));
}

template <typename Call>
void measure(const char* name, int runs, Call call) {
    for (int i = 0; i < 20; ++i) call(i);  // warm the statements
    std::vector<double> micros;
    QElapsedTimer clock;
    int failed = 0;
    for (int i = 0; i < runs; ++i) {
        clock.start();
        if (!call(i)) ++failed;
        micros.push_back(static_cast<double>(clock.nsecsElapsed()) / 1000.0);
    }
    std::sort(micros.begin(), micros.end());
    std::printf("%-34s p50 %9.1f us  p99 %9.1f us  (%d runs, %d failed)\n", name,
                micros[micros.size() / 2], micros[micros.size() * 99 / 100], runs, failed);
}
}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: db_compare_bench APP_DIR DEVICES\n");
        return 2;
    }
    setApplicationDirectoryForTesting(QString::fromLocal8Bit(argv[1]));
    const int devices = QString::fromLocal8Bit(argv[2]).toInt();
    if (!DbSchema::ensure() || !load(devices)) {
        std::fprintf(stderr, "db_compare_bench: cannot prepare the database\n");
        return 1;
    }
    std::printf("%s, %d terminals\n",
                SQLiteDb::instance()->isPostgreSQL() ? "postgresql" : "sqlite", devices);
    Tab_DeviceInfo table;
    const int runs = 2000;
    measure("getDeviceBySN", runs, [&](int i) {
        struDeviceInfo device;
        return table.getDeviceBySN(device, serial((i * 7919) % devices)) ==
               Tab_DeviceInfo::RowState::Found;
    });
    measure("refreshFromReport", runs, [&](int i) {
        struDeviceInfo report = makeDevice((i * 7919) % devices);
        report.AppVersion = QStringLiteral("1.1.%1").arg(i);
        return table.refreshFromReport(report, false);
    });
    measure("updateDevice", runs, [&](int i) {
        struDeviceInfo device = makeDevice((i * 104729) % devices);
        device.ConfigCmd = QStringLiteral("cmd %1").arg(i);
        return table.updateDevice(device);
    });
    measure("insertDevice", runs,
            [&](int i) { return table.insertDevice(makeDevice(devices + 1000 + i)); });
    const auto page = [](const DeviceFilter& filter, const char* column) {
        DeviceListQuery::Sort sort{Tab_DeviceInfo::columns().indexOf(QLatin1String(column))};
        QList<DeviceListRow> rows;
        bool more = false;
        int total = 0;
        return DeviceListQuery::page(filter, sort, DeviceListQuery::Page(), rows, more) &&
               DeviceListQuery::count(filter, total) && rows.size() == 50;
    };
    measure("console page, sorted by plate", 200,
            [&](int) { return page(DeviceFilter(), "LicensePlateNumber"); });
    measure("console page, search \"38000012\"", 200, [&](int) {
        DeviceFilter filter;
        filter.q = QStringLiteral("38000012");
        DeviceListQuery::Sort sort{Tab_DeviceInfo::columns().indexOf(QStringLiteral("devSN"))};
        QList<DeviceListRow> rows;
        bool more = false;
        int total = 0;
        return DeviceListQuery::page(filter, sort, DeviceListQuery::Page(), rows, more) &&
               DeviceListQuery::count(filter, total) && total > 0;
    });
    return 0;
}
