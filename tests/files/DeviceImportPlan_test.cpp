// What an edited device list would change: one row per case of the stale-export rules, and the
// completion time read back in the forms a spreadsheet program saves it in.
#include <gtest/gtest.h>

#include <QDateTime>

#include "db/Tab_DeviceInfo.h"
#include "files/DeviceExchangeFile.h"
#include "files/DeviceImportPlan.h"

namespace {
const qint32 kDone =
    static_cast<qint32>(QDateTime(QDate(2026, 3, 4), QTime(10, 20, 30)).toSecsSinceEpoch());

struDeviceInfo stored(const QString& sn) {
    struDeviceInfo d;
    d.devSN = sn;
    d.devType = "T1";
    d.AppVersion = "V1";
    d.UpgradeCompletionTime = kDone;
    return d;
}

// The header, then one row per device; time, when given, fills the completion time column.
QList<QList<QVariant>> table(const QList<QPair<struDeviceInfo, QString>>& rows, bool withTime) {
    QList<QList<QVariant>> out;
    QList<QVariant> header;
    for (const QString& title : DeviceExchangeFile::titles()) header << title;
    if (!withTime) header.removeLast();
    out << header;
    for (const auto& row : rows) {
        QList<QVariant> cells = DeviceExchangeFile::row(row.first);
        if (withTime)
            cells.last() = row.second;
        else
            cells.removeLast();
        out << cells;
    }
    return out;
}

QStringList columns(const QList<DeviceImportPlan::Change>& changes) {
    QStringList names;
    for (const auto& change : changes) names << Tab_DeviceInfo::columns().name(change.column);
    return names;
}
}  // namespace

TEST(DeviceImportPlan, StaleRowsKeepTheirVersions) {
    const QString same = DeviceExchangeFile::timeText(kDone);
    const QString minute = QDateTime::fromSecsSinceEpoch(kDone).toString("yyyy/M/d H:mm");
    // written: the column the import would write, "" for none.
    struct Case {
        const char* name;
        QString fileApp;
        QString fileTime;
        bool withTime;
        bool versions;
        const char* written;
        bool flagged;
    } cases[] = {
        {"untouched row", "V1", same, true, true, "", false},
        {"same minute as the spreadsheet saves it", "V1", minute, true, true, "", false},
        {"version edited, fresh export", "V2", same, true, true, "AppVersion", true},
        {"version edited, versions not asked for", "V2", same, true, false, "", true},
        {"exported before the last upgrade", "V2", "", true, true, "", true},
        {"completion time not a time", "V2", "soon", true, true, "", true},
        {"file without the completion time", "V2", "", false, true, "", true},
        {"file without the completion time, same version", "V1", "", false, true, "", false},
    };
    for (const Case& c : cases) {
        struDeviceInfo file = stored("SN1");
        file.AppVersion = c.fileApp;
        DeviceImportPlan plan;
        ASSERT_TRUE(plan.read(table({{file, c.fileTime}}, c.withTime))) << c.name;
        plan.plan({{"SN1", stored("SN1")}}, c.versions);
        ASSERT_EQ(plan.rows().size(), 1) << c.name;
        const DeviceImportPlan::Row& row = plan.rows().first();
        const bool writes = *c.written != 0;
        EXPECT_EQ(row.action,
                  writes ? DeviceImportPlan::Action::Update : DeviceImportPlan::Action::Unchanged)
            << c.name;
        EXPECT_EQ(columns(row.changes), writes ? QStringList{c.written} : QStringList()) << c.name;
        EXPECT_EQ(row.flagged, c.flagged) << c.name;
        EXPECT_EQ(row.versionsWritten, writes) << c.name;
        EXPECT_EQ(plan.summary().versionsKept,
                  c.versions && !row.versionChanges.isEmpty() && !row.versionsWritten)
            << c.name;
    }
}

TEST(DeviceImportPlan, NewTerminalsAndRequestsAndRefusedHeaders) {
    struDeviceInfo known = stored("SN1");
    known.ConfigCmd = "reboot";
    known.GetLogFile = true;
    struDeviceInfo fresh = stored("SN2");
    struDeviceInfo unnamed = stored("");
    DeviceImportPlan plan;
    const QString time = DeviceExchangeFile::timeText(kDone);
    ASSERT_TRUE(plan.read(table({{known, time}, {fresh, time}, {unnamed, time}}, true)));
    EXPECT_EQ(plan.serials(), QStringList({"SN1", "SN2"}));
    plan.plan({{"SN1", stored("SN1")}}, false);
    ASSERT_EQ(plan.rows().size(), 2);
    EXPECT_EQ(columns(plan.rows()[0].changes), QStringList({"ConfigCmd", "GetLogFile"}));
    EXPECT_EQ(plan.rows()[1].action, DeviceImportPlan::Action::Insert);
    EXPECT_FALSE(columns(plan.rows()[1].changes).contains("AppVersion"));
    plan.plan({{"SN1", stored("SN1")}}, true);
    EXPECT_TRUE(columns(plan.rows()[1].changes).contains("AppVersion"));
    EXPECT_EQ(plan.summary().rows, 3);
    EXPECT_EQ(plan.summary().skipped, 1);
    EXPECT_EQ(plan.rows()[1].line, 3);

    QList<QList<QVariant>> wrong = table({{known, time}}, true);
    wrong[0][3] = "plate";
    EXPECT_FALSE(plan.read(wrong));
    EXPECT_FALSE(plan.read({}));
}
