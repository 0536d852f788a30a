#include <functional>

#include <gtest/gtest.h>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>

#include "db/DbSchema.h"
#include "db/PinnedTransaction.h"
#include "db/PooledConnection.h"
#include "db/ReportRows.h"
#include "db/SqlDialect.h"
#include "db/Tab_DeviceEvent.h"
#include "db/Tab_DeviceInfo.h"
#include "db/Tab_UpgradeAttempt.h"
#include "tests/db/DbTestSupport.h"
#include "tests/support/MessageCapture.h"

namespace {
// Every stored field distinct, so a field read from the wrong column shows.
struDeviceInfo makeDevice(const QString& sn, const QString& phone = QStringLiteral("13800000000")) {
    struDeviceInfo d;
    d.devId = QStringLiteral("id-") + sn;
    d.devSN = sn;
    d.devType = QStringLiteral("T100");
    d.LicensePlateNumber = QStringLiteral("A-12345");
    d.PhoneNumber = phone;
    d.AppVersion = QStringLiteral("app-1");
    d.McuVersion = QStringLiteral("mcu-2");
    d.FourGVersion = QStringLiteral("4g-3");
    d.GnssVersion = QStringLiteral("gnss-4");
    d.SmartModule = QStringLiteral("smart-5");
    d.Reserve = QStringLiteral("reserve-6");
    d.isAutoUpdate = true;
    d.ConfigCmd = QStringLiteral("set apn");
    d.UpgradeCompletionTime = 1700000000;
    d.GetLogFile = true;
    d.GetIndexFile = false;
    d.GetPrintFile = true;
    d.GetRunInfoFile = false;
    return d;
}

void expectStoredFieldsEqual(const struDeviceInfo& a, const struDeviceInfo& b) {
    EXPECT_EQ(a.devId, b.devId);
    EXPECT_EQ(a.devSN, b.devSN);
    EXPECT_EQ(a.devType, b.devType);
    EXPECT_EQ(a.LicensePlateNumber, b.LicensePlateNumber);
    EXPECT_EQ(a.PhoneNumber, b.PhoneNumber);
    EXPECT_EQ(a.AppVersion, b.AppVersion);
    EXPECT_EQ(a.McuVersion, b.McuVersion);
    EXPECT_EQ(a.FourGVersion, b.FourGVersion);
    EXPECT_EQ(a.GnssVersion, b.GnssVersion);
    EXPECT_EQ(a.SmartModule, b.SmartModule);
    EXPECT_EQ(a.Reserve, b.Reserve);
    EXPECT_EQ(a.isAutoUpdate, b.isAutoUpdate);
    EXPECT_EQ(a.ConfigCmd, b.ConfigCmd);
    EXPECT_EQ(a.UpgradeCompletionTime, b.UpgradeCompletionTime);
    EXPECT_EQ(a.GetLogFile, b.GetLogFile);
    EXPECT_EQ(a.GetIndexFile, b.GetIndexFile);
    EXPECT_EQ(a.GetPrintFile, b.GetPrintFile);
    EXPECT_EQ(a.GetRunInfoFile, b.GetRunInfoFile);
}

int rowCount() {
    return sqlValue(QStringLiteral("select count(*) from Tab_DeviceInfo")).toInt();
}

QStringList serials(const QList<struDeviceInfo>& devices) {
    QStringList list;
    for (const struDeviceInfo& d : devices) list << d.devSN;
    return list;
}

class TabDeviceInfoTest : public DbTableTest {
  protected:
    Tab_DeviceInfo table;
};
}  // namespace

TEST_F(TabDeviceInfoTest, InsertedDeviceReadsBackBySerialNumber) {
    const struDeviceInfo stored = makeDevice(QStringLiteral("SN1"));
    ASSERT_TRUE(table.insertDevice(stored));

    struDeviceInfo read;
    read.row_num = 7;
    read.upgradeProgress = 42;
    read.progressReported = true;
    ASSERT_EQ(table.getDeviceBySN(read, QStringLiteral("SN1")), Tab_DeviceInfo::RowState::Found);
    expectStoredFieldsEqual(read, stored);
    EXPECT_GT(read.id, 0);
    EXPECT_EQ(read.row_num, 7);  // only the lists read row_num
    EXPECT_EQ(read.upgradeProgress, 42u);
    EXPECT_TRUE(read.progressReported);
}

TEST_F(TabDeviceInfoTest, UnknownSerialNumberLeavesRecordUnchanged) {
    ASSERT_TRUE(table.insertDevice(makeDevice(QStringLiteral("SN1"))));
    MessageCapture capture;
    struDeviceInfo read = makeDevice(QStringLiteral("mine"));
    read.id = 99;
    EXPECT_EQ(table.getDeviceBySN(read, QStringLiteral("SN2")), Tab_DeviceInfo::RowState::Missing);
    expectStoredFieldsEqual(read, makeDevice(QStringLiteral("mine")));
    EXPECT_EQ(read.id, 99);
    EXPECT_TRUE(capture.lines().isEmpty());
}

TEST_F(TabDeviceInfoTest, SaveInsertsNewSerialNumberWithoutCompletionTime) {
    struDeviceInfo device = makeDevice(QStringLiteral("SN1"));
    device.UpgradeCompletionTime = 777;
    ASSERT_TRUE(table.saveDevice(device));
    EXPECT_EQ(rowCount(), 1);

    struDeviceInfo read;
    ASSERT_EQ(table.getDeviceBySN(read, QStringLiteral("SN1")), Tab_DeviceInfo::RowState::Found);
    EXPECT_EQ(read.UpgradeCompletionTime, 0);  // the column default, not the record's value
    EXPECT_TRUE(read.IdentityPinned);          // the device ID given, at once
    EXPECT_EQ(read.AppVersion, device.AppVersion);
}

TEST_F(TabDeviceInfoTest, SaveUpdatesExistingRowKeepingIdAndCompletionTime) {
    ASSERT_TRUE(table.insertDevice(makeDevice(QStringLiteral("SN1"))));
    ASSERT_TRUE(table.insertDevice(makeDevice(QStringLiteral("SN2"))));
    struDeviceInfo before;
    ASSERT_EQ(table.getDeviceBySN(before, QStringLiteral("SN1")), Tab_DeviceInfo::RowState::Found);

    struDeviceInfo changed = makeDevice(QStringLiteral("SN1"), QStringLiteral("13900000000"));
    changed.AppVersion = QStringLiteral("app-9");
    changed.isAutoUpdate = false;
    changed.ConfigCmd = QStringLiteral("reboot");
    changed.GetIndexFile = true;
    changed.UpgradeCompletionTime = 5;
    ASSERT_TRUE(table.saveDevice(changed));

    EXPECT_EQ(rowCount(), 2);
    struDeviceInfo after;
    ASSERT_EQ(table.getDeviceBySN(after, QStringLiteral("SN1")), Tab_DeviceInfo::RowState::Found);
    EXPECT_EQ(after.id, before.id);
    EXPECT_EQ(after.UpgradeCompletionTime, before.UpgradeCompletionTime);
    changed.UpgradeCompletionTime = before.UpgradeCompletionTime;
    expectStoredFieldsEqual(after, changed);

    struDeviceInfo other;
    ASSERT_EQ(table.getDeviceBySN(other, QStringLiteral("SN2")), Tab_DeviceInfo::RowState::Found);
    expectStoredFieldsEqual(other, makeDevice(QStringLiteral("SN2")));
}

TEST_F(TabDeviceInfoTest, SaveWithoutSerialNumberFailsQuietly) {
    MessageCapture capture;
    EXPECT_FALSE(table.saveDevice(makeDevice(QString())));
    EXPECT_EQ(rowCount(), 0);
    EXPECT_TRUE(capture.lines().isEmpty());
}

TEST_F(TabDeviceInfoTest, UpdateWritesCompletionTimeAndNeedsAKnownSerialNumber) {
    ASSERT_TRUE(table.insertDevice(makeDevice(QStringLiteral("SN1"))));
    struDeviceInfo device = makeDevice(QStringLiteral("SN1"));
    device.UpgradeCompletionTime = 1800000000;
    device.isAutoUpdate = false;
    ASSERT_TRUE(table.updateDevice(device));
    struDeviceInfo read;
    ASSERT_EQ(table.getDeviceBySN(read, QStringLiteral("SN1")), Tab_DeviceInfo::RowState::Found);
    expectStoredFieldsEqual(read, device);

    MessageCapture capture;
    EXPECT_FALSE(table.updateDevice(makeDevice(QStringLiteral("SN-unknown"))));
    EXPECT_TRUE(capture.lines().isEmpty());
    EXPECT_EQ(rowCount(), 1);
}

TEST_F(TabDeviceInfoTest, ListsFilterBySerialAndPhoneExactly) {
    ASSERT_TRUE(table.insertDevice(makeDevice(QStringLiteral("SN1"), QStringLiteral("P1"))));
    ASSERT_TRUE(table.insertDevice(makeDevice(QStringLiteral("SN2"), QStringLiteral("P1"))));
    ASSERT_TRUE(table.insertDevice(makeDevice(QStringLiteral("SN3"), QStringLiteral("P2"))));

    struct Case {
        const char* sn;
        const char* phone;
        QStringList expected;
    };
    const Case cases[] = {
        {"", "", {"SN1", "SN2", "SN3"}},
        {"SN2", "", {"SN2"}},
        {"SN1", "P1", {"SN1"}},
        {"SN1", "P2", {}},
        {"", "P1", {"SN1", "SN2"}},
        {"", "P2", {"SN3"}},
        {" SN1", "", {}},  // no trimming of the filters
        {"", "P1 ", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("sn='") + c.sn + "' phone='" + c.phone + "'");
        QList<struDeviceInfo> devices{makeDevice(QStringLiteral("stale"))};
        ASSERT_TRUE(
            table.queryDevices(devices, QString::fromLatin1(c.sn), QString::fromLatin1(c.phone)));
        EXPECT_EQ(serials(devices), c.expected);
        for (const struDeviceInfo& d : devices) {
            EXPECT_EQ(d.row_num, d.id);  // id is the rowid
            EXPECT_GT(d.row_num, 0);
        }
    }
}

TEST_F(TabDeviceInfoTest, OnlyTheFullListTrimsTheConfigCommand) {
    struDeviceInfo device = makeDevice(QStringLiteral("SN1"));
    device.ConfigCmd = QStringLiteral(" set apn ");
    ASSERT_TRUE(table.insertDevice(device));

    QList<struDeviceInfo> devices;
    ASSERT_TRUE(table.getAllDevices(devices));
    ASSERT_EQ(devices.size(), 1);
    EXPECT_EQ(devices[0].ConfigCmd, QStringLiteral("set apn"));
    EXPECT_GT(devices[0].row_num, 0);

    ASSERT_TRUE(table.queryDevices(devices, QString(), QString()));
    ASSERT_EQ(devices.size(), 1);
    EXPECT_EQ(devices[0].ConfigCmd, QStringLiteral(" set apn "));

    ASSERT_TRUE(table.queryDevices(devices, QStringLiteral("SN1"), QString()));
    ASSERT_EQ(devices.size(), 1);
    EXPECT_EQ(devices[0].ConfigCmd, QStringLiteral(" set apn "));

    struDeviceInfo read;
    ASSERT_EQ(table.getDeviceBySN(read, QStringLiteral("SN1")), Tab_DeviceInfo::RowState::Found);
    EXPECT_EQ(read.ConfigCmd, QStringLiteral(" set apn "));
}

TEST_F(TabDeviceInfoTest, ClearAutoUpdateNeedsRows) {
    MessageCapture capture;
    EXPECT_FALSE(table.clearAutoUpdate());
    EXPECT_TRUE(capture.lines().isEmpty());

    struDeviceInfo on = makeDevice(QStringLiteral("SN1"));
    struDeviceInfo off = makeDevice(QStringLiteral("SN2"));
    off.isAutoUpdate = false;
    ASSERT_TRUE(table.insertDevice(on));
    ASSERT_TRUE(table.insertDevice(off));
    EXPECT_TRUE(table.clearAutoUpdate());
    QList<struDeviceInfo> devices;
    ASSERT_TRUE(table.getAllDevices(devices));
    ASSERT_EQ(devices.size(), 2);
    for (const struDeviceInfo& d : devices) EXPECT_FALSE(d.isAutoUpdate);
    // Rows matched count, changed or not.
    EXPECT_TRUE(table.clearAutoUpdate());
}

TEST_F(TabDeviceInfoTest, FailedStatementsLogTheirFixedLine) {
    // Missing while the cases run, then back: the schema steps are recorded as done, so a
    // dropped table would stay missing for the tests after this one in the same process.
    ASSERT_TRUE(
        sqlExec(QStringLiteral("alter table Tab_DeviceInfo rename to Tab_DeviceInfo_away")));
    const QList<struDeviceInfo> untouched{makeDevice(QStringLiteral("keep"))};
    struct Case {
        const char* name;
        std::function<bool()> op;
        QString message;
    };
    QList<struDeviceInfo> devices = untouched;
    struDeviceInfo device = makeDevice(QStringLiteral("SN1"));
    const Case cases[] = {
        {"insertDevice", [&] { return table.insertDevice(device); }, "insert device fail "},
        {"saveDevice", [&] { return table.saveDevice(device); }, "query device fail "},
        {"getAllDevices", [&] { return table.getAllDevices(devices); },
         "query Tab_DeviceInfo fail "},
        {"queryDevices", [&] { return table.queryDevices(devices, "SN1", "P1"); },
         "query Tab_DeviceInfo fail "},
        {"getDeviceBySN",
         [&] { return table.getDeviceBySN(device, "SN1") != Tab_DeviceInfo::RowState::Failed; },
         "query device fail "},
        {"clearAutoUpdate", [&] { return table.clearAutoUpdate(); }, "update Tab_DeviceInfo fail "},
        {"updateDevice", [&] { return table.updateDevice(device); }, "update Tab_DeviceInfo fail "},
        {"refreshFromReport", [&] { return table.refreshFromReport(device, true); },
         "update Tab_DeviceInfo fail "},
        {"completeUpgrade", [&] { return table.completeUpgrade("SN1", 1); },
         "update Tab_DeviceInfo fail "},
        {"clearConfigCmd", [&] { return table.clearConfigCmd("SN1", "set apn"); },
         "update Tab_DeviceInfo fail "},
        {"clearFileRequest",
         [&] { return table.clearFileRequest("SN1", &struDeviceInfo::GetLogFile); },
         "update Tab_DeviceInfo fail "},
        {"releasePin", [&] { return table.releasePin("SN1") != Tab_DeviceInfo::RowState::Failed; },
         "update Tab_DeviceInfo fail "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MessageCapture capture;
        EXPECT_FALSE(c.op());
        EXPECT_EQ(capture.lines(), QStringList{c.message});
    }
    EXPECT_EQ(serials(devices), serials(untouched));  // lists cleared only on success
    ASSERT_TRUE(
        sqlExec(QStringLiteral("alter table Tab_DeviceInfo_away rename to Tab_DeviceInfo")));
}

// The writes of terminal events change their own columns only: whatever an operator changed in
// the other columns since the terminal's report survives them.
TEST_F(TabDeviceInfoTest, ColumnWritesLeaveEveryOtherColumnAlone) {
    const struDeviceInfo stored = makeDevice(QStringLiteral("SN1"));
    struDeviceInfo report;  // every field differs from the stored row
    report.devId = QStringLiteral("id-other");
    report.devSN = stored.devSN;
    report.devType = QStringLiteral("T200");
    report.LicensePlateNumber = QStringLiteral("B-54321");
    report.PhoneNumber = QStringLiteral("13911111111");
    report.AppVersion = QStringLiteral("app-9");
    report.McuVersion = QStringLiteral("mcu-9");
    report.FourGVersion = QStringLiteral("4g-9");
    report.GnssVersion = QStringLiteral("gnss-9");
    report.SmartModule = QStringLiteral("smart-9");
    report.Reserve = QStringLiteral("reserve-9");
    report.ConfigCmd = QStringLiteral("other");
    report.UpgradeCompletionTime = 5;
    report.GetIndexFile = report.GetRunInfoFile = true;
    const auto reported = [&](struDeviceInfo& d) {
        const QString devId = d.devId;
        d = report;
        d.devId = devId;
        d.isAutoUpdate = stored.isAutoUpdate;
        d.ConfigCmd = stored.ConfigCmd;
        d.UpgradeCompletionTime = stored.UpgradeCompletionTime;
        d.GetLogFile = stored.GetLogFile;
        d.GetIndexFile = stored.GetIndexFile;
        d.GetPrintFile = stored.GetPrintFile;
        d.GetRunInfoFile = stored.GetRunInfoFile;
    };
    using Row = Tab_DeviceInfo::RowState;
    const struct {
        const char* name;
        std::function<bool()> write;
        bool changed;
        std::function<void(struDeviceInfo&)> expect;
        bool pinned;
    } cases[] = {
        {"report", [&] { return table.refreshFromReport(report, false); }, true, reported, true},
        {"report pinning",
         [&] {
             return table.releasePin("SN1") == Row::Found && table.refreshFromReport(report, true);
         },
         true,
         [&](struDeviceInfo& d) {
             reported(d);
             d.devId = report.devId;
         },
         true},
        {"upgrade complete", [&] { return table.completeUpgrade("SN1", 1234); }, true,
         [](struDeviceInfo& d) {
             d.UpgradeCompletionTime = 1234;
             d.isAutoUpdate = false;
         },
         true},
        {"command still the one sent", [&] { return table.clearConfigCmd("SN1", "set apn"); }, true,
         [](struDeviceInfo& d) { d.ConfigCmd.clear(); }, true},
        {"command replaced meanwhile", [&] { return table.clearConfigCmd("SN1", "reboot"); }, false,
         [](struDeviceInfo&) {}, true},
        {"file request",
         [&] { return table.clearFileRequest("SN1", &struDeviceInfo::GetPrintFile); }, true,
         [](struDeviceInfo& d) { d.GetPrintFile = false; }, true},
        {"unknown serial number",
         [&] { return table.completeUpgrade("SN9", 1) || table.releasePin("SN9") != Row::Missing; },
         false, [](struDeviceInfo&) {}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(sqlExec(QStringLiteral("delete from Tab_DeviceInfo")));
        ASSERT_TRUE(table.insertDevice(stored));
        EXPECT_EQ(c.write(), c.changed);
        struDeviceInfo expected = stored;
        c.expect(expected);
        struDeviceInfo read;
        ASSERT_EQ(table.getDeviceBySN(read, QStringLiteral("SN1")), Row::Found);
        expectStoredFieldsEqual(read, expected);
        EXPECT_EQ(read.IdentityPinned, c.pinned);
    }
}

// The lookup by serial number reads the row itself; rows written by older versions or by hand
// may hold other types than the service writes. It must read every one as the lists do.
TEST_F(TabDeviceInfoTest, LookupReadsOddlyTypedRowsAsTheListsDo) {
    if (testingPostgreSQL())
        GTEST_SKIP() << "only SQLite keeps a value of another type than its column's";
    ASSERT_TRUE(sqlExec(QStringLiteral(
        "insert into Tab_DeviceInfo(devId,devSN,devType,LicensePlateNumber,PhoneNumber,"
        "AppVersion,McuVersion,FourGVersion,GnssVersion,SmartModule,Reserve,isAutoUpdate,"
        "ConfigCmd,UpgradeCompletionTime,GetLogFile,GetIndexFile,GetPrintFile,GetRunInfoFile) "
        "values(NULL,'ODD',42,'京A·12345','','1.0',2.5,x'6869',NULL,'',NULL,'true',' cmd ',"
        "'1700000001',NULL,'0',7,'')")));
    ASSERT_TRUE(table.insertDevice(makeDevice(QStringLiteral("PLAIN"))));
    for (const QString& sn : {QStringLiteral("ODD"), QStringLiteral("PLAIN")}) {
        SCOPED_TRACE(sn.toStdString());
        QList<struDeviceInfo> listed;
        ASSERT_TRUE(table.queryDevices(listed, sn, QString()));
        ASSERT_EQ(listed.size(), 1);
        struDeviceInfo found;
        ASSERT_EQ(table.getDeviceBySN(found, sn), Tab_DeviceInfo::RowState::Found);
        expectStoredFieldsEqual(found, listed[0]);
        EXPECT_EQ(found.id, listed[0].id);
    }
    struDeviceInfo odd;
    ASSERT_EQ(table.getDeviceBySN(odd, QStringLiteral("ODD")), Tab_DeviceInfo::RowState::Found);
    EXPECT_EQ(odd.devType, "42");
    EXPECT_EQ(odd.LicensePlateNumber, QStringLiteral("京A·12345"));
    EXPECT_TRUE(odd.isAutoUpdate);
    EXPECT_EQ(odd.UpgradeCompletionTime, 1700000001);
    EXPECT_TRUE(odd.GetPrintFile);
}

// The record statements are made from a description of the columns: one added to the table but
// not to the description must fail here, not lose its values silently.
TEST_F(TabDeviceInfoTest, RecordStatementsCoverEveryColumnOfTheTable) {
    QSet<QString> columns;
    {
        PooledConnection connection;
        ASSERT_TRUE(connection.isUsable());
        QSqlQuery& info = connection.prepare(SqlDialect::twin(
            connection.database(), QStringLiteral("PRAGMA table_info(Tab_DeviceInfo)"),
            QStringLiteral("select ordinal_position,column_name from information_schema.columns "
                           "where table_name='tab_deviceinfo'")));
        ASSERT_TRUE(info.exec());
        while (info.next()) columns << info.value(1).toString();
    }
    // PostgreSQL names the columns in lower case.
    const auto folded = [](const QString& text) {
        return testingPostgreSQL() ? text.toLower() : text;
    };
    columns = [&] {
        QSet<QString> out;
        for (const QString& column : columns) out << folded(column);
        return out;
    }();
    ASSERT_EQ(columns.size(), 21);
    const RecordColumns<struDeviceInfo>& devices = Tab_DeviceInfo::columns();
    const struct {
        const char* name;
        QString text;
        QStringList keywords;
        QStringList notCarried;  // columns of the table the statement leaves alone
    } cases[] = {
        {"insert",
         devices.insert(Tab_DeviceInfo::kInsert),
         {"insert", "into", "values"},
         {"id", "UpgradeCompletionTime", "LastReportTime"}},
        {"insert with time",
         devices.insert(Tab_DeviceInfo::kInsertWithTime),
         {"insert", "into", "values"},
         {"id", "IdentityPinned"}},
        {"update",
         devices.update(Tab_DeviceInfo::kUpdate),
         {"update", "set", "where"},
         {"id", "UpgradeCompletionTime", "IdentityPinned", "LastReportTime"}},
        {"update with time",
         devices.update(Tab_DeviceInfo::kUpdateWithTime),
         {"update", "set", "where"},
         {"id", "IdentityPinned", "LastReportTime"}},
        {"lookup",
         devices.select(QStringLiteral("where devSN=?")),
         {"select", "from", "where"},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QStringList words =
            folded(c.text).split(QRegularExpression(QStringLiteral("\\W+")), Qt::SkipEmptyParts);
        QSet<QString> notCarried;
        for (const QString& column : c.notCarried) notCarried << folded(column);
        QSet<QString> expected = columns - notCarried;
        expected += QSet<QString>(c.keywords.begin(), c.keywords.end());
        expected << folded(QStringLiteral("Tab_DeviceInfo"));
        EXPECT_EQ(QSet<QString>(words.begin(), words.end()), expected) << c.text.toStdString();
    }
}

// The report path's reads and writes: many serial numbers in one lookup find what one lookup
// each finds, odd characters included; the rows a report writes together all land.
TEST_F(TabDeviceInfoTest, ReportLookupsInBulkAndReportRowsAgreeWithOneByOne) {
    Tab_DeviceInfo table;
    const QStringList stored = {QStringLiteral("plain"),       QStringLiteral("q\"uote"),
                                QStringLiteral("back\\slash"), QStringLiteral("{a,b}"),
                                QStringLiteral("序列号 1"),    QStringLiteral("NULL")};
    for (const QString& sn : stored) ASSERT_TRUE(table.insertDevice(makeDevice(sn)));
    struUpgradeAttempt attempt;
    attempt.devSN = QStringLiteral("q\"uote");
    attempt.packageId = 1;
    attempt.startedAt = 90;
    ASSERT_TRUE(Tab_UpgradeAttempt::start(attempt));
    ASSERT_TRUE(Tab_UpgradeAttempt::progress(attempt.devSN, 100, 95));

    QHash<QString, Tab_DeviceInfo::Found> found;
    ASSERT_TRUE(table.getDevicesBySN(stored + QStringList{QStringLiteral("missing")}, found));
    const QList<QString> keys = found.keys();
    EXPECT_EQ(QSet<QString>(keys.begin(), keys.end()), QSet<QString>(stored.begin(), stored.end()));
    for (const QString& sn : stored) {
        SCOPED_TRACE(sn.toStdString());
        struDeviceInfo one;
        bool pending = false;
        ASSERT_EQ(table.getDeviceBySN(one, sn, &pending), Tab_DeviceInfo::RowState::Found);
        expectStoredFieldsEqual(found.value(sn).device, one);
        EXPECT_EQ(found.value(sn).outcomePending, pending);
        EXPECT_EQ(pending, sn == attempt.devSN);
    }

    ReportRows rows;
    rows.device = makeDevice(QStringLiteral("plain"));
    rows.device->AppVersion = QStringLiteral("app-9");
    rows.device->LastReportTime = 1800000000;
    rows.presence.devSN = QStringLiteral("plain");
    rows.presence.instance = QStringLiteral("here");
    rows.presence.lastReport = 1800000000;
    rows.decision.devSN = QStringLiteral("plain");
    rows.decision.reason = QStringLiteral("no_package");
    // Two events a report, in their order, trimmed to the kept number as one by one.
    for (const char* kind : {kEventConnected, kEventDecided}) {
        struDeviceEvent event;
        event.devSN = QStringLiteral("plain");
        event.kind = QLatin1String(kind);
        rows.events << event;
    }
    const int passes = Tab_DeviceEvent::kKeptPerTerminal / 2 + 1;
    for (int pass = 0; pass < passes; ++pass) ASSERT_TRUE(rows.write()) << pass;  // then updates
    QList<struDeviceEvent> newest;
    qint64 total = 0;
    ASSERT_TRUE(Tab_DeviceEvent::page(QStringLiteral("plain"), 0, 3, newest, total));
    EXPECT_EQ(total, Tab_DeviceEvent::kKeptPerTerminal);
    ASSERT_EQ(newest.size(), 3);
    EXPECT_EQ(newest[0].kind, kEventDecided);
    EXPECT_EQ(newest[1].kind, kEventConnected);
    EXPECT_EQ(newest[2].kind, kEventDecided);
    struDeviceInfo after;
    ASSERT_EQ(table.getDeviceBySN(after, QStringLiteral("plain")), Tab_DeviceInfo::RowState::Found);
    EXPECT_EQ(after.AppVersion, "app-9");
    EXPECT_EQ(after.LastReportTime, 1800000000);
    EXPECT_EQ(sqlValue(QStringLiteral("select lastReport from Tab_DevicePresence where "
                                      "devSN='plain'"))
                  .toInt(),
              1800000000);
    EXPECT_EQ(sqlValue(QStringLiteral("select reason from Tab_UpgradeDecision where "
                                      "devSN='plain'"))
                  .toString(),
              "no_package");
}

// A batch's reports, each in its guarded work (PostgreSQL holds their rows for one statement):
// odd characters land, a terminal twice keeps its order, a later work reads what earlier ones
// held, a work that fails takes its held rows with it, and a row the server refuses is refused
// alone, counted once the batch commits.
TEST_F(TabDeviceInfoTest, ReportRowsOfABatchLandTogetherAndARefusedOneAlone) {
    const bool postgres = testingPostgreSQL();
    Tab_DeviceInfo table;
    const QStringList stored = {QStringLiteral("plain"),       QStringLiteral("q\"uote"),
                                QStringLiteral("back\\slash"), QStringLiteral("{a,b}"),
                                QStringLiteral("序列号 1"),    QStringLiteral("refused"),
                                QStringLiteral("failing")};
    for (const QString& sn : stored) ASSERT_TRUE(table.insertDevice(makeDevice(sn)));
    for (const char* other : {"Tab_DeviceEvent", "Tab_DevicePresence", "Tab_UpgradeDecision"})
        ASSERT_TRUE(sqlExec(QStringLiteral("delete from ") + QLatin1String(other)));
    if (postgres) {
        ASSERT_TRUE(
            sqlExec(QStringLiteral("alter table Tab_UpgradeDecision add constraint "
                                   "refusing check (reason<>'refused')")));
    }
    const auto rowsOf = [](const QString& sn, const QString& version) {
        ReportRows rows;
        rows.device = makeDevice(sn);
        rows.device->AppVersion = version;
        rows.pin = sn == QLatin1String("q\"uote");
        if (rows.pin) rows.device->devId = QStringLiteral("pinned");
        rows.presence.devSN = rows.decision.devSN = sn;
        rows.presence.instance = QStringLiteral("here");
        rows.decision.reason = sn == QLatin1String("refused") ? sn : QStringLiteral("no_package");
        for (const char* kind : {kEventConnected, kEventDecided})
            rows.events << struDeviceEvent{0, sn, 0, QLatin1String(kind), version};
        return rows;
    };
    QStringList refused;
    MessageCapture capture;
    PinnedTransaction batch;
    ASSERT_TRUE(batch.isOpen());
    const QList<QPair<QString, QString>> reports = {{"plain", "v2"},       {"q\"uote", "v2"},
                                                    {"back\\slash", "v2"}, {"{a,b}", "v2"},
                                                    {"序列号 1", "v2"},    {"plain", "v3"}};
    for (const auto& report : reports)
        batch.guard([&] {
            EXPECT_TRUE(rowsOf(report.first, report.second).write([&refused, report] {
                refused << report.first;
            }));
        });
    batch.guard([&] {
        struDeviceInfo seen;
        ASSERT_EQ(table.getDeviceBySN(seen, QStringLiteral("{a,b}")),
                  Tab_DeviceInfo::RowState::Found);
        EXPECT_EQ(seen.AppVersion, "v2");
    });
    // Together they were one statement; the refused one spoils its own, and fails alone then.
    EXPECT_EQ(capture.lines().count(QStringLiteral("write report rows fail")), 0);
    const QString refuses = QStringLiteral("refused");
    batch.guard([&] {
        EXPECT_TRUE(rowsOf(refuses, QStringLiteral("v2")).write([&] { refused << refuses; }));
    });
    batch.guard([&] {
        EXPECT_TRUE(rowsOf(QStringLiteral("failing"), QStringLiteral("v2")).write());
        EXPECT_FALSE(sqlExec(QStringLiteral("insert into NoSuchTable values(1)")));
    });
    EXPECT_TRUE(refused.isEmpty());
    ASSERT_TRUE(batch.commit());
    EXPECT_EQ(refused, postgres ? QStringList{QStringLiteral("refused")} : QStringList());
    EXPECT_EQ(capture.lines().count(QStringLiteral("write report rows fail")), postgres ? 2 : 0);
    if (postgres) {
        ASSERT_TRUE(
            sqlExec(QStringLiteral("alter table Tab_UpgradeDecision drop constraint refusing")));
    }

    for (const QString& sn : stored) {
        SCOPED_TRACE(sn.toStdString());
        const bool written = !postgres || (sn != QLatin1String("refused") && sn != "failing");
        struDeviceInfo after;
        ASSERT_EQ(table.getDeviceBySN(after, sn), Tab_DeviceInfo::RowState::Found);
        EXPECT_EQ(after.AppVersion, !written ? "app-1" : sn == "plain" ? "v3" : "v2");
        EXPECT_EQ(after.devId == "pinned", sn == "q\"uote");
        QList<struDeviceEvent> events;
        qint64 total = 0;
        ASSERT_TRUE(Tab_DeviceEvent::page(sn, 0, 10, events, total));
        QStringList timeline;  // oldest first
        for (const struDeviceEvent& event : events) timeline.prepend(event.kind + event.detail);
        const QStringList once = {QStringLiteral("connectedv2"), QStringLiteral("decidedv2")};
        EXPECT_EQ(timeline, !written        ? QStringList()
                            : sn != "plain" ? once
                                            : once + QStringList({"connectedv3", "decidedv3"}));
        EXPECT_EQ(sqlValue(QStringLiteral("select count(*) from Tab_DevicePresence where "
                                          "devSN='%1'")
                               .arg(sn))
                      .toInt(),
                  written ? 1 : 0);
    }
}
