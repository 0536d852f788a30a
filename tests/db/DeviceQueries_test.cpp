// The console's device queries and the access tables through their own code, on whichever
// database the suite runs against: where the two dialects part ways (search, keys assigned by
// the database, insert-or-ignore, triggers), both must answer alike.
#include <algorithm>

#include <gtest/gtest.h>
#include <QStringList>

#include "db/DeviceEditor.h"
#include "db/DeviceListQuery.h"
#include "db/DevicePackageCounts.h"
#include "db/RolloutQuery.h"
#include "db/Tab_Account.h"
#include "db/Tab_ApiToken.h"
#include "db/Tab_AuditLog.h"
#include "db/Tab_DeviceInfo.h"
#include "db/Tab_DevicePresence.h"
#include "db/Tab_Package.h"
#include "db/Tab_Session.h"
#include "db/Tab_UpgradeAttempt.h"
#include "tests/db/DbTestSupport.h"

namespace {
class DeviceQueriesTest : public DbTableTest {
  protected:
    void SetUp() override {
        DbTableTest::SetUp();
        for (const char* table : {"Tab_DevicePresence", "Tab_UpgradeAttempt", "Tab_Session"})
            ASSERT_TRUE(sqlExec(QStringLiteral("delete from ") + QLatin1String(table)));
        // SN-C has no plate: a missing value sorts first.
        const struct {
            const char* sn;
            const char* plate;
            const char* app;
            bool forced;
        } rows[] = {{"SN-A", "abcXYZ", "1.0", false},
                    {"SN-B", "QQ-77", "2.0", true},
                    {"SN-C", nullptr, "1.0", false}};
        for (const auto& row : rows) {
            struDeviceInfo device;
            device.devSN = QLatin1String(row.sn);
            device.devType = QStringLiteral("T1");
            device.AppVersion = QLatin1String(row.app);
            device.isAutoUpdate = row.forced;
            ASSERT_TRUE(Tab_DeviceInfo().insertDevice(device));
            if (row.plate)
                ASSERT_TRUE(sqlExec(QStringLiteral("update Tab_DeviceInfo set "
                                                   "LicensePlateNumber='%1' where devSN='%2'")
                                        .arg(QLatin1String(row.plate), device.devSN)));
            else
                ASSERT_TRUE(sqlExec(QStringLiteral("update Tab_DeviceInfo set "
                                                   "LicensePlateNumber=NULL where devSN='%1'")
                                        .arg(device.devSN)));
        }
        struDevicePresence online;
        online.devSN = QStringLiteral("SN-B");
        online.instance = QStringLiteral("here");
        online.connectedSince = online.lastReport = 100;
        ASSERT_TRUE(Tab_DevicePresence::recordReport(online));
    }

    static QStringList serials(const DeviceFilter& filter, const DeviceListQuery::Sort& sort,
                               const DeviceListQuery::Page& page = DeviceListQuery::Page()) {
        QList<DeviceListRow> rows;
        bool more = false;
        EXPECT_TRUE(DeviceListQuery::page(filter, sort, page, rows, more));
        QStringList out;
        for (const DeviceListRow& row : rows)
            out << row.device.devSN + (row.online ? QStringLiteral("*") : QString());
        int total = -1;
        EXPECT_TRUE(DeviceListQuery::count(filter, total));
        EXPECT_EQ(total, out.size()) << "count and page disagree";
        return out;
    }
};

DeviceFilter searching(const QString& q) {
    DeviceFilter filter;
    filter.q = q;
    return filter;
}
}  // namespace

TEST_F(DeviceQueriesTest, FiltersSearchesAndSortsAlike) {
    DeviceListQuery::Sort byPlate{
        Tab_DeviceInfo::columns().indexOf(QStringLiteral("LicensePlateNumber"))};
    DeviceFilter forced;
    forced.pending = DeviceFilter::Pending::Forced;
    DeviceFilter offline;
    offline.online = DeviceFilter::Online::No;
    DeviceFilter app1;
    app1.equal << qMakePair(Tab_DeviceInfo::columns().indexOf(QStringLiteral("AppVersion")),
                            QStringLiteral("1.0"));
    const struct {
        const char* name;
        DeviceFilter filter;
        bool descending;
        QStringList expected;
    } cases[] = {
        {"a missing plate first, then bytes order",
         DeviceFilter(),
         false,
         {"SN-C", "SN-B*", "SN-A"}},
        {"descending, a missing plate last", DeviceFilter(), true, {"SN-A", "SN-B*", "SN-C"}},
        {"search of three characters and more, ASCII case ignored",
         searching("XyZ"),
         false,
         {"SN-A"}},
        {"short search", searching("q-"), false, {"SN-B*"}},
        {"search across two columns finds nothing", searching("Zsn"), false, {}},
        {"search with LIKE's own characters", searching("%"), false, {}},
        {"forced upgrade pending", forced, false, {"SN-B*"}},
        {"offline", offline, false, {"SN-C", "SN-A"}},
        {"equal version", app1, false, {"SN-C", "SN-A"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        byPlate.descending = c.descending;
        EXPECT_EQ(serials(c.filter, byPlate), c.expected);
    }
    // The next page continues after the cursor, a missing value included.
    QList<DeviceListRow> first;
    bool more = false;
    DeviceListQuery::Page page;
    page.limit = 1;
    byPlate.descending = false;
    ASSERT_TRUE(DeviceListQuery::page(DeviceFilter(), byPlate, page, first, more));
    ASSERT_EQ(first.size(), 1);
    EXPECT_TRUE(more);
    page.afterCursor = true;
    page.cursorValue = first[0].sortValue;
    page.cursorId = first[0].device.id;
    page.limit = 5;
    QList<DeviceListRow> rest;
    ASSERT_TRUE(DeviceListQuery::page(DeviceFilter(), byPlate, page, rest, more));
    ASSERT_EQ(rest.size(), 2);
    EXPECT_EQ(rest[0].device.devSN, QStringLiteral("SN-B"));
    EXPECT_FALSE(more);
}

TEST_F(DeviceQueriesTest, SearchFollowsEditsAndBulkEditsTakeTheFilter) {
    int affected = 0;
    const int plate = Tab_DeviceInfo::columns().indexOf(QStringLiteral("LicensePlateNumber"));
    ASSERT_TRUE(
        DeviceEditor::updateOne("SN-A", {qMakePair(plate, QVariant("NEW-PLATE"))}, affected));
    EXPECT_EQ(affected, 1);
    const DeviceListQuery::Sort byId{Tab_DeviceInfo::columns().indexOf(QStringLiteral("id"))};
    EXPECT_EQ(serials(searching("abcXYZ"), byId), QStringList());
    EXPECT_EQ(serials(searching("new-pl"), byId), QStringList({"SN-A"}));

    const int command = Tab_DeviceInfo::columns().indexOf(QStringLiteral("ConfigCmd"));
    ASSERT_TRUE(DeviceEditor::updateMatching(searching("SN-"),
                                             {qMakePair(command, QVariant("reboot"))}, affected));
    EXPECT_EQ(affected, 3);
    DeviceEditor::RowWrite added;
    added.insert = true;
    added.devSN = QStringLiteral("SN-D");
    added.changes << qMakePair(plate, QVariant("ddd-plate"));
    ASSERT_TRUE(DeviceEditor::applyRows({added}));
    EXPECT_EQ(serials(searching("DDD"), byId), QStringList({"SN-D"}));

    struPackageInfo package;
    package.id = 1;
    package.deviceType = QStringLiteral("T1");
    int terminals = 0;
    int onlineForced = 0;
    ASSERT_TRUE(RolloutQuery::groups(package, 0, [&](const RolloutQuery::Terminal& t, int n) {
        terminals += n;
        if (t.online && t.device.isAutoUpdate) onlineForced += n;
    }));
    EXPECT_EQ(terminals, 3);  // SN-D has no device type
    EXPECT_EQ(onlineForced, 1);
}

// The plate "abcXYZ" of SN-A is in the search index too, yet only serials are matched.
TEST_F(DeviceQueriesTest, UpgradeHistoryFoundByAPartOfTheSerial) {
    for (const char* sn : {"SN-A", "SN-B", "SN-C"}) {
        struUpgradeAttempt attempt;
        attempt.devSN = QLatin1String(sn);
        attempt.devType = QStringLiteral("T1");
        attempt.startedAt = 1000;
        ASSERT_TRUE(Tab_UpgradeAttempt::start(attempt));
    }
    const auto found = [](const QString& part, const QString& type) {
        Tab_UpgradeAttempt::Filter filter;
        filter.serialPart = part;
        filter.devType = type;
        QList<Tab_UpgradeAttempt::Row> rows;
        int total = -1;
        EXPECT_TRUE(Tab_UpgradeAttempt::list(filter, 0, 10, rows, total));
        QStringList out;
        for (const Tab_UpgradeAttempt::Row& row : rows) out << row.attempt.devSN;
        EXPECT_EQ(total, out.size());
        return out;
    };
    EXPECT_EQ(found("sn-b", QString()), QStringList{"SN-B"});
    EXPECT_EQ(found("b", QString()), QStringList{"SN-B"});
    EXPECT_EQ(found("abc", QString()), QStringList());
    EXPECT_EQ(found("N-", "T1"), QStringList({"SN-C", "SN-B", "SN-A"}));
    EXPECT_EQ(found("N-", "T2"), QStringList());
}

// The package is found by the trimmed type; a type without one is its own group.
TEST_F(DeviceQueriesTest, PackageCountsGroupByThePackageOfTheType) {
    for (const char* type : {" T1 ", "T2"}) {
        struDeviceInfo other;
        other.devSN = QStringLiteral("SN-") + QLatin1String(type).trimmed();
        other.devType = QLatin1String(type);
        ASSERT_TRUE(Tab_DeviceInfo().insertDevice(other));
    }
    struPackageInfo package;
    package.packageName = QStringLiteral("p.bin");
    package.AppVersion = QStringLiteral("2.0");
    package.deviceType = QStringLiteral("T1");
    ASSERT_TRUE(Tab_Package().insertPackage(package));
    ASSERT_TRUE(Tab_Package().getPackageByType(QStringLiteral("T1"), package));
    QList<DevicePackageCounts::Group> groups;
    ASSERT_TRUE(DevicePackageCounts::count(DeviceFilter(), groups));
    std::sort(groups.begin(), groups.end(),
              [](const auto& a, const auto& b) { return a.packageId < b.packageId; });
    ASSERT_EQ(groups.size(), 2);
    EXPECT_EQ(
        QList<int>({groups[0].packageId, groups[0].matched, groups[0].online, groups[0].onVersion}),
        QList<int>({0, 1, 0, 0}));
    EXPECT_EQ(
        QList<int>({groups[1].packageId, groups[1].matched, groups[1].online, groups[1].onVersion}),
        QList<int>({package.id, 4, 1, 1}));
}

TEST_F(DeviceQueriesTest, AccessTablesKeepTheirRules) {
    ASSERT_TRUE(sqlExec(QStringLiteral("delete from Tab_Account")));
    Tab_Account accounts;
    struAccount first;
    first.name = QStringLiteral("ops");
    first.role = QStringLiteral("admin");
    first.passwordHash = QStringLiteral("h");
    first.createdAt = 1700000000;
    ASSERT_TRUE(accounts.insertAccount(first));
    EXPECT_GT(first.id, 0);
    struAccount same = first;
    EXPECT_FALSE(accounts.insertAccount(same));  // the name is taken: nothing inserted
    EXPECT_EQ(accounts.countAccounts(), 1);
    struAccount read;
    ASSERT_TRUE(accounts.getAccountById(first.id, read));
    EXPECT_EQ(read.name, first.name);

    // Every described column comes back as written, 64-bit times included.
    struApiToken token;
    token.name = QStringLiteral("ci");
    token.role = QStringLiteral("viewer");
    token.tokenHash = QStringLiteral("t");
    token.accountId = first.id;
    token.createdAt = 1700000000;
    token.expiresAt = 5000000000;
    ASSERT_TRUE(sqlExec(QStringLiteral("delete from Tab_ApiToken")));
    ASSERT_TRUE(Tab_ApiToken().insertToken(token));
    struApiToken back;
    ASSERT_TRUE(Tab_ApiToken().getTokenByHash(token.tokenHash, back));
    for (int i = 0; i < Tab_ApiToken::columns().count(); ++i)
        EXPECT_EQ(Tab_ApiToken::columns().value(back, i), Tab_ApiToken::columns().value(token, i))
            << Tab_ApiToken::columns().name(i);

    // Milliseconds need 64 bits.
    struSession session;
    session.idHash = QStringLiteral("hash");
    session.accountId = first.id;
    session.createdAt = session.lastSeenAt = 1700000000123;
    ASSERT_TRUE(Tab_Session().insertSession(session));
    struSession stored;
    ASSERT_TRUE(Tab_Session().getSession(session.idHash, stored));
    EXPECT_EQ(stored.lastSeenAt, 1700000000123);

    struAuditEntry entry;
    entry.at = 1700000000456;
    entry.action = QStringLiteral("login");
    ASSERT_TRUE(Tab_AuditLog().insertEntry(entry));
    EXPECT_FALSE(sqlExec(QStringLiteral("update Tab_AuditLog set action='changed'")));
    EXPECT_FALSE(sqlExec(QStringLiteral("delete from Tab_AuditLog")));
    QList<struAuditEntry> entries;
    qint64 total = 0;
    ASSERT_TRUE(
        Tab_AuditLog().queryEntries({QString(), QStringLiteral("login")}, 0, 10, entries, total));
    ASSERT_GE(total, 1);
    EXPECT_EQ(entries.first().at, 1700000000456);
    EXPECT_EQ(entries.first().action, QStringLiteral("login"));
}
