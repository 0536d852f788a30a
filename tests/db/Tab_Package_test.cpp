#include <functional>

#include <gtest/gtest.h>
#include <QStringList>

#include "db/Tab_Package.h"
#include "tests/db/DbTestSupport.h"
#include "tests/support/MessageCapture.h"

namespace {
struPackageInfo makePackage(const QString& type, const QString& name) {
    struPackageInfo p;
    p.packageName = name;
    p.AppVersion = QStringLiteral("app-") + name;
    p.McuVersion = QStringLiteral("mcu-") + name;
    p.FourGVersion = QStringLiteral("4g-") + name;
    p.GnssVersion = QStringLiteral("gnss-") + name;
    p.SmartModule = QStringLiteral("smart-") + name;
    p.Reserve = QStringLiteral("reserve-") + name;
    p.packagePath = QStringLiteral("/pkg/") + type + QStringLiteral("/") + name;
    p.uploadTime = 1700000000;
    p.size = 1234;
    p.deviceType = type;
    p.sha256 = QStringLiteral("sha-") + name;
    return p;
}

void expectStoredFieldsEqual(const struPackageInfo& a, const struPackageInfo& b) {
    EXPECT_EQ(a.packageName, b.packageName);
    EXPECT_EQ(a.AppVersion, b.AppVersion);
    EXPECT_EQ(a.McuVersion, b.McuVersion);
    EXPECT_EQ(a.FourGVersion, b.FourGVersion);
    EXPECT_EQ(a.GnssVersion, b.GnssVersion);
    EXPECT_EQ(a.SmartModule, b.SmartModule);
    EXPECT_EQ(a.Reserve, b.Reserve);
    EXPECT_EQ(a.packagePath, b.packagePath);
    EXPECT_EQ(a.uploadTime, b.uploadTime);
    EXPECT_EQ(a.size, b.size);
    EXPECT_EQ(a.deviceType, b.deviceType);
    EXPECT_EQ(a.sha256, b.sha256);
}

int rowCount() {
    return sqlValue(QStringLiteral("select count(*) from Tab_Package")).toInt();
}

class TabPackageTest : public DbTableTest {
  protected:
    // What the end of an upload does: one current package per device type.
    bool upload(const struPackageInfo& package) {
        struPackageInfo existing;
        if (table.getPackageByType(package.deviceType, existing))
            return table.updatePackageByType(package);
        return table.insertPackage(package);
    }
    Tab_Package table;
};
}  // namespace

TEST_F(TabPackageTest, SecondUploadForATypeOverwritesTheRowAndKeepsItsId) {
    ASSERT_TRUE(upload(makePackage(QStringLiteral("T1"), QStringLiteral("first"))));
    ASSERT_TRUE(upload(makePackage(QStringLiteral("T2"), QStringLiteral("other"))));
    struPackageInfo first;
    ASSERT_TRUE(table.getPackageByType(QStringLiteral("T1"), first));

    const struPackageInfo second = makePackage(QStringLiteral("T1"), QStringLiteral("second"));
    ASSERT_TRUE(upload(second));
    EXPECT_EQ(rowCount(), 2);
    struPackageInfo read;
    ASSERT_TRUE(table.getPackageByType(QStringLiteral("T1"), read));
    expectStoredFieldsEqual(read, second);
    EXPECT_EQ(read.id, first.id);

    struPackageInfo other;
    ASSERT_TRUE(table.getPackageByType(QStringLiteral("T2"), other));
    expectStoredFieldsEqual(other, makePackage(QStringLiteral("T2"), QStringLiteral("other")));
}

TEST_F(TabPackageTest, TypeLookupTrimsOnlyTheGivenType) {
    ASSERT_TRUE(table.insertPackage(makePackage(QStringLiteral("T1"), QStringLiteral("a"))));
    ASSERT_TRUE(table.insertPackage(makePackage(QStringLiteral(" T2 "), QStringLiteral("b"))));

    struPackageInfo read;
    read.row_num = 5;
    ASSERT_TRUE(table.getPackageByType(QStringLiteral("  T1\t"), read));
    EXPECT_EQ(read.packageName, QStringLiteral("a"));
    EXPECT_EQ(read.row_num, 5);

    struPackageInfo untouched = makePackage(QStringLiteral("mine"), QStringLiteral("mine"));
    EXPECT_FALSE(table.getPackageByType(QStringLiteral(" T2 "), untouched));
    EXPECT_FALSE(table.getPackageByType(QStringLiteral("T2"), untouched));
    expectStoredFieldsEqual(untouched, makePackage(QStringLiteral("mine"), QStringLiteral("mine")));
}

TEST_F(TabPackageTest, LargeSizeReadsBackFromEveryRead) {
    struPackageInfo package = makePackage(QStringLiteral("T1"), QStringLiteral("big"));
    package.size = 3000000;
    ASSERT_TRUE(table.insertPackage(package));

    struPackageInfo byType;
    ASSERT_TRUE(table.getPackageByType(QStringLiteral("T1"), byType));
    EXPECT_EQ(byType.size, 3000000);
    struPackageInfo byId;
    ASSERT_TRUE(table.getPackageById(byType.id, byId));
    EXPECT_EQ(byId.size, 3000000);
    expectStoredFieldsEqual(byId, package);
    QList<struPackageInfo> all;
    ASSERT_TRUE(table.getAllPackages(all));
    ASSERT_EQ(all.size(), 1);
    EXPECT_EQ(all[0].size, 3000000);
    EXPECT_EQ(all[0].id, byType.id);
    EXPECT_EQ(all[0].row_num, byType.id);
    expectStoredFieldsEqual(all[0], package);
}

TEST_F(TabPackageTest, DeleteNeedsAKnownId) {
    ASSERT_TRUE(table.insertPackage(makePackage(QStringLiteral("T1"), QStringLiteral("a"))));
    struPackageInfo stored;
    ASSERT_TRUE(table.getPackageByType(QStringLiteral("T1"), stored));

    MessageCapture capture;
    EXPECT_FALSE(table.deletePackage(stored.id + 1000));
    EXPECT_TRUE(capture.lines().isEmpty());
    EXPECT_EQ(rowCount(), 1);

    EXPECT_TRUE(table.deletePackage(stored.id));
    struPackageInfo gone = makePackage(QStringLiteral("x"), QStringLiteral("x"));
    EXPECT_FALSE(table.getPackageById(stored.id, gone));
    EXPECT_EQ(gone.packageName, QStringLiteral("x"));
    EXPECT_EQ(rowCount(), 0);
}

TEST_F(TabPackageTest, EmptyTableListsNothingSuccessfully) {
    QList<struPackageInfo> all{makePackage(QStringLiteral("stale"), QStringLiteral("stale"))};
    EXPECT_TRUE(table.getAllPackages(all));
    EXPECT_TRUE(all.isEmpty());
}

TEST_F(TabPackageTest, UpdateOfATypeWithoutRowFailsQuietly) {
    MessageCapture capture;
    EXPECT_FALSE(table.updatePackageByType(makePackage(QStringLiteral("T9"), QStringLiteral("a"))));
    EXPECT_TRUE(capture.lines().isEmpty());
    EXPECT_EQ(rowCount(), 0);
}

TEST_F(TabPackageTest, FailedStatementsLogTheirFixedLine) {
    // Missing while the cases run, then back: the schema steps are recorded as done, so a
    // dropped table would stay missing for the tests after this one in the same process.
    ASSERT_TRUE(sqlExec(QStringLiteral("alter table Tab_Package rename to Tab_Package_away")));
    const struPackageInfo package = makePackage(QStringLiteral("T1"), QStringLiteral("a"));
    QList<struPackageInfo> all{package};
    struPackageInfo read;
    struct Case {
        const char* name;
        std::function<bool()> op;
        QString message;
    };
    const Case cases[] = {
        {"insertPackage", [&] { return table.insertPackage(package); }, "insert package fail"},
        {"updatePackageByType", [&] { return table.updatePackageByType(package); },
         "insert package fail"},
        {"getPackageById", [&] { return table.getPackageById(1, read); }, "query device fail "},
        {"getPackageByType", [&] { return table.getPackageByType("T1", read); },
         "query device fail "},
        {"getAllPackages", [&] { return table.getAllPackages(all); }, "query package fail"},
        {"deletePackage", [&] { return table.deletePackage(1); }, "delete package fail"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MessageCapture capture;
        EXPECT_FALSE(c.op());
        EXPECT_EQ(capture.lines(), QStringList{c.message});
    }
    EXPECT_EQ(all.size(), 1);  // cleared only on success
    ASSERT_TRUE(sqlExec(QStringLiteral("alter table Tab_Package_away rename to Tab_Package")));
}
