// Numbered schema steps on a database file of the test's own, outside the pool.
#include "db/DbSchema.h"

#include <gtest/gtest.h>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>
#include <QVariant>

#include "db/Migrations.h"

namespace {
class SchemaFile : public ::testing::Test {
  protected:
    void SetUp() override {
        m_db = QSqlDatabase::addDatabase("QSQLITE", m_name);
        m_db.setDatabaseName(m_dir.filePath("WFS.db"));
        ASSERT_TRUE(m_db.open());
    }
    void TearDown() override {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
    }
    QVariant value(const QString& statement) {
        QSqlQuery query(m_db);
        return query.exec(statement) && query.next() ? query.value(0) : QVariant();
    }
    bool exec(const QString& statement) { return QSqlQuery(m_db).exec(statement); }

    QTemporaryDir m_dir;
    QString m_name = QUuid::createUuid().toString();
    QSqlDatabase m_db;
};

bool createNote(QSqlDatabase& db) {
    return QSqlQuery(db).exec("create table Note(id INTEGER PRIMARY KEY, text TEXT)");
}
bool failHalfWay(QSqlDatabase& db) {
    QSqlQuery(db).exec("create table Half(id INTEGER)");
    return false;
}

TEST_F(SchemaFile, NewDatabaseGetsEveryStepOnceAndAgainNothing) {
    ASSERT_TRUE(DbSchema::migrate(m_db, allMigrations()));
    EXPECT_EQ(DbSchema::currentVersion(m_db), allMigrations().back().version);
    EXPECT_EQ(value("select count(*) from Tab_SchemaVersion").toInt(),
              static_cast<int>(allMigrations().size()));
    ASSERT_TRUE(DbSchema::migrate(m_db, allMigrations()));
    EXPECT_EQ(value("select count(*) from Tab_SchemaVersion").toInt(),
              static_cast<int>(allMigrations().size()));
}

TEST_F(SchemaFile, DatabaseFromBeforeTheVersionTableKeepsItsRows) {
    ASSERT_TRUE(
        exec("create table Tab_DeviceInfo(id INTEGER PRIMARY KEY AUTOINCREMENT,devId TEXT,"
             "devSN TEXT,devType TEXT,LicensePlateNumber TEXT,PhoneNumber TEXT,"
             "AppVersion TEXT,McuVersion TEXT,FourGVersion TEXT,GnssVersion TEXT,"
             "SmartModule TEXT,Reserve TEXT,isAutoUpdate INTEGER,ConfigCmd TEXT,"
             "UpgradeCompletionTime INTEGER,GetLogFile INTEGER,GetIndexFile INTEGER,"
             "GetPrintFile INTEGER,GetRunInfoFile INTEGER)"));
    ASSERT_TRUE(
        exec("create table Tab_Package(id INTEGER PRIMARY KEY AUTOINCREMENT,"
             "packageName TEXT,AppVersion TEXT,McuVersion TEXT,FourGVersion TEXT,"
             "GnssVersion TEXT,SmartModule TEXT,Reserve TEXT,packagePath TEXT,"
             "uploadTime INTEGER,size INTEGER,deviceType TEXT)"));
    ASSERT_TRUE(exec("insert into Tab_DeviceInfo(devSN,AppVersion) values('SN1','V1')"));
    ASSERT_TRUE(exec("insert into Tab_DeviceInfo(devId,devSN) values('ID2','SN2')"));
    ASSERT_TRUE(exec("insert into Tab_Package(packageName,deviceType) values('p','T1')"));

    ASSERT_TRUE(DbSchema::migrate(m_db, allMigrations()));
    EXPECT_EQ(value("select AppVersion from Tab_DeviceInfo where devSN='SN1'").toString(), "V1");
    EXPECT_EQ(value("select deviceType from Tab_Package").toString(), "T1");
    // A stored device ID is pinned; a row without one pins at its next report.
    EXPECT_EQ(value("select IdentityPinned from Tab_DeviceInfo where devSN='SN2'").toInt(), 1);
    EXPECT_EQ(value("select IdentityPinned from Tab_DeviceInfo where devSN='SN1'").toInt(), 0);
    // A package from before digests were kept has none, rather than no column.
    EXPECT_EQ(value("select sha256 from Tab_Package").toString(), "");
    EXPECT_FALSE(value("select sha256 from Tab_Package").isNull());
}

TEST_F(SchemaFile, AccountsFromBeforeKeepTheirCaseTwinsAndTokensFindTheirAccount) {
    const std::vector<Migration> before(allMigrations().begin(), allMigrations().begin() + 12);
    ASSERT_TRUE(DbSchema::migrate(m_db, before));
    for (const char* name : {"admin", "ADMIN", "bob"})
        ASSERT_TRUE(exec(QStringLiteral("insert into Tab_Account(name,role,passwordHash) "
                                        "values('%1','admin','h')")
                             .arg(name)));
    for (const char* by : {"bob", "token:t-bob", "", "gone"})
        ASSERT_TRUE(exec(QStringLiteral("insert into Tab_ApiToken(name,role,tokenHash,createdBy) "
                                        "values('t-%1','admin','h-%1','%1')")
                             .arg(by)));

    ASSERT_TRUE(DbSchema::migrate(m_db, allMigrations()));
    EXPECT_EQ(value("select count(*) from Tab_Account").toInt(), 3);
    EXPECT_FALSE(exec("insert into Tab_Account(name,role,passwordHash) values('Bob','admin','h')"));
    EXPECT_FALSE(
        exec("insert into Tab_Account(name,role,passwordHash) values('Admin','admin','h')"));
    EXPECT_EQ(value("select group_concat(name||'='||accountId) from (select name,accountId from "
                    "Tab_ApiToken order by id)")
                  .toString(),
              "t-bob=3,t-token:t-bob=3,t-=0,t-gone=0");
}

TEST_F(SchemaFile, FailedStepIsRolledBackAndNewerDatabaseRefused) {
    const std::vector<Migration> steps{{1, "note", createNote}, {2, "half", failHalfWay}};
    EXPECT_FALSE(DbSchema::migrate(m_db, steps));
    EXPECT_EQ(DbSchema::currentVersion(m_db), 1);
    EXPECT_TRUE(m_db.tables().contains("Note"));
    EXPECT_FALSE(m_db.tables().contains("Half"));

    // A program that knows fewer steps than the file has must not write to it.
    EXPECT_FALSE(DbSchema::migrate(m_db, {{0, "none", createNote}}));
}

bool addNoteColumn(QSqlDatabase& db) {
    return QSqlQuery(db).exec("alter table Note add column extra TEXT");
}
bool dropNote(QSqlDatabase& db) {
    return QSqlQuery(db).exec("drop table Note");
}

// Each build knows a prefix of the steps; the database holds what the newest build applied.
TEST_F(SchemaFile, OlderProgramRunsOnNewerStepsOnlyWhileEachOnlyAdds) {
    const std::vector<Migration> all{{1, "note", createNote},
                                     {2, "note extra", addNoteColumn, true},
                                     {3, "note gone", dropNote}};
    const auto build = [&](size_t known) {
        return std::vector<Migration>(all.begin(), all.begin() + known);
    };
    ASSERT_TRUE(DbSchema::migrate(m_db, build(2)));
    EXPECT_TRUE(DbSchema::migrate(m_db, build(1))) << "step 2 only adds";
    ASSERT_TRUE(DbSchema::migrate(m_db, build(3)));
    EXPECT_FALSE(DbSchema::migrate(m_db, build(1))) << "step 3 removes";
    EXPECT_FALSE(DbSchema::migrate(m_db, build(2)));
    EXPECT_EQ(
        value("select group_concat(version||':'||compatible) from Tab_SchemaVersion").toString(),
        "1:0,2:1,3:0");
}
}  // namespace
