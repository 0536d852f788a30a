#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>

#include <gtest/gtest.h>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSet>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>

#include "core/AppDir.h"
#include "db/DbSchema.h"
#include "db/PooledConnection.h"
#include "db/SQLiteDb.h"
#include "db/Tab_DeviceInfo.h"
#include "db/Tab_Package.h"
#include "tests/db/DbTestSupport.h"
#include "tests/support/MessageCapture.h"

namespace {
using namespace std::chrono_literals;

// Borrows all five connections, keeping them in order of hand-out.
QList<QSqlDatabase> borrowAll() {
    QList<QSqlDatabase> held;
    for (int i = 0; i < SQLiteDb::kMaxConnections; ++i)
        held << SQLiteDb::instance()->openConnection();
    return held;
}

void giveBackAll(QList<QSqlDatabase>& held) {
    for (QSqlDatabase& connection : held) SQLiteDb::instance()->closeConnection(connection);
    held.clear();
}

// Runs a scenario in a fresh process (the pool is process-wide) with its own application
// directory; a scenario that hangs ends its process with code 99 instead of the test run.
int runFresh(int (*scenario)(const QString& dir)) {
    const QString dir = testAppDir() + QStringLiteral("/fresh");
    std::packaged_task<int()> task([&] { return scenario(dir); });
    std::future<int> result = task.get_future();
    std::thread(std::move(task)).detach();
    if (result.wait_for(20s) != std::future_status::ready) return 99;
    return result.get();
}

#define FRESH_CHECK(cond, code)                          \
    do {                                                 \
        if (!(cond)) {                                   \
            std::fprintf(stderr, "failed: %s\n", #cond); \
            return code;                                 \
        }                                                \
    } while (0)
}  // namespace

TEST(SQLiteDbTest, SixthCallerWaitsAndReceivesTheReturnedName) {
    QList<QSqlDatabase> held = borrowAll();
    QSet<QString> names;
    for (const QSqlDatabase& connection : held) {
        ASSERT_TRUE(connection.isValid());
        ASSERT_TRUE(connection.isOpen());
        names << connection.connectionName();
    }
    EXPECT_EQ(names, (QSet<QString>{"Connection-1", "Connection-2", "Connection-3", "Connection-4",
                                    "Connection-5"}));

    std::promise<QString> received;
    std::future<QString> sixth = received.get_future();
    std::thread waiter([&] {
        QSqlDatabase connection = SQLiteDb::instance()->openConnection();
        received.set_value(connection.connectionName());
        SQLiteDb::instance()->closeConnection(connection);
    });
    EXPECT_EQ(sixth.wait_for(200ms), std::future_status::timeout);

    const QString returned = held[2].connectionName();
    SQLiteDb::instance()->closeConnection(held[2]);
    held.removeAt(2);
    ASSERT_EQ(sixth.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(sixth.get(), returned);
    waiter.join();
    giveBackAll(held);
}

TEST(SQLiteDbTest, FreeNamesAreReusedFirstInFirstOut) {
    QList<QSqlDatabase> held = borrowAll();
    const QString first = held[3].connectionName();
    const QString second = held[1].connectionName();
    SQLiteDb::instance()->closeConnection(held[3]);
    SQLiteDb::instance()->closeConnection(held[1]);
    held.removeAt(3);
    held.removeAt(1);

    held << SQLiteDb::instance()->openConnection();
    EXPECT_EQ(held.last().connectionName(), first);
    held << SQLiteDb::instance()->openConnection();
    EXPECT_EQ(held.last().connectionName(), second);
    giveBackAll(held);
}

TEST(SQLiteDbTest, ConnectionMovesBetweenThreadsWithoutQtRefusingIt) {
    MessageCapture capture;
    // Each thread takes whatever connection is free; with all five used in turn by other
    // threads, every connection changes thread at least once.
    for (int round = 0; round < 2 * SQLiteDb::kMaxConnections; ++round) {
        std::thread([] {
            QSqlDatabase connection = SQLiteDb::instance()->openConnection();
            ASSERT_TRUE(connection.isOpen());
            {
                QSqlQuery query(connection);
                ASSERT_TRUE(query.exec(QStringLiteral("select 1")));
                ASSERT_TRUE(query.next());
            }
            SQLiteDb::instance()->closeConnection(connection);
        }).join();
        QSqlDatabase connection = SQLiteDb::instance()->openConnection();
        ASSERT_TRUE(connection.isOpen());
        {
            QSqlQuery query(connection);
            EXPECT_TRUE(query.exec(QStringLiteral("select 1")));
        }
        SQLiteDb::instance()->closeConnection(connection);
    }
    EXPECT_FALSE(capture.contains("does not belong to the calling thread"));
    EXPECT_FALSE(capture.contains("moveToThread"));
}

TEST(SQLiteDbTest, ConnectionsWaitForLocksAndUseWriteAheadLog) {
    if (testingPostgreSQL()) GTEST_SKIP() << "settings of SQLite connections";
    QSqlDatabase connection = SQLiteDb::instance()->openConnection();
    ASSERT_TRUE(connection.isOpen());
    {
        QSqlQuery query(connection);
        ASSERT_TRUE(query.exec(QStringLiteral("PRAGMA busy_timeout")) && query.next());
        EXPECT_GE(query.value(0).toInt(), 5000);
        ASSERT_TRUE(query.exec(QStringLiteral("PRAGMA journal_mode")) && query.next());
        EXPECT_EQ(query.value(0).toString(), QStringLiteral("wal"));
        ASSERT_TRUE(query.exec(QStringLiteral("PRAGMA synchronous")) && query.next());
        EXPECT_EQ(query.value(0).toInt(), 1);  // NORMAL
    }
    SQLiteDb::instance()->closeConnection(connection);
    EXPECT_TRUE(QFile::exists(testAppDir() + QStringLiteral("/WFS.db")));
    EXPECT_EQ(SQLiteDb::instance()->databasePath(),
              QDir::toNativeSeparators(testAppDir() + QStringLiteral("/WFS.db")));
}

// A database that cannot be opened: every caller gets an invalid connection at once, nothing
// stays registered, and the pool works once the file can be created.
int unopenableDatabase(const QString& dir) {
    setApplicationDirectoryForTesting(dir + QStringLiteral("/not-yet"));
    for (int i = 0; i < 2 * SQLiteDb::kMaxConnections; ++i) {
        QSqlDatabase connection = SQLiteDb::instance()->openConnection();
        FRESH_CHECK(!connection.isValid(), 1);
    }
    FRESH_CHECK(QSqlDatabase::connectionNames().isEmpty(), 2);
    {
        MessageCapture capture;
        QList<struDeviceInfo> devices;
        FRESH_CHECK(!Tab_DeviceInfo().getAllDevices(devices), 3);
        FRESH_CHECK(capture.lines() == QStringList{"Open the database fail"}, 4);
        capture.clear();
        FRESH_CHECK(!Tab_Package().insertPackage(struPackageInfo()), 5);
        FRESH_CHECK(capture.lines().isEmpty(), 6);
    }
    FRESH_CHECK(QDir().mkpath(dir + QStringLiteral("/not-yet")), 7);
    QSqlDatabase connection = SQLiteDb::instance()->openConnection();
    FRESH_CHECK(connection.isOpen(), 8);
    FRESH_CHECK(connection.connectionName() == QStringLiteral("Connection-1"), 9);
    return 0;
}

// A free connection that no longer reopens is dropped, and its name is given to the next new
// connection without ever handing out a name twice.
int connectionThatNoLongerOpens(const QString& dir) {
    const QString appDir = dir + QStringLiteral("/app");
    const QString moved = dir + QStringLiteral("/moved");
    FRESH_CHECK(QDir().mkpath(appDir), 1);
    setApplicationDirectoryForTesting(appDir);
    SQLiteDb* pool = SQLiteDb::instance();
    QSqlDatabase first = pool->openConnection();
    QSqlDatabase second = pool->openConnection();
    FRESH_CHECK(first.connectionName() == QStringLiteral("Connection-1"), 2);
    first.close();
    pool->closeConnection(first);
    pool->closeConnection(second);

    FRESH_CHECK(QDir().rename(appDir, moved), 3);
    QSqlDatabase broken = pool->openConnection();  // Connection-1 comes first and fails
    FRESH_CHECK(!broken.isValid(), 4);
    FRESH_CHECK(QSqlDatabase::connectionNames() == QStringList{"Connection-2"}, 5);
    FRESH_CHECK(QDir().rename(moved, appDir), 6);

    QList<QSqlDatabase> held = borrowAll();
    QSet<QString> names;
    for (const QSqlDatabase& connection : held) {
        FRESH_CHECK(connection.isOpen(), 7);
        names << connection.connectionName();
    }
    FRESH_CHECK(names.size() == SQLiteDb::kMaxConnections, 8);
    FRESH_CHECK(held[0].connectionName() == QStringLiteral("Connection-2"), 9);
    FRESH_CHECK(held[1].connectionName() == QStringLiteral("Connection-1"), 10);
    giveBackAll(held);
    return 0;
}

// Closing waits for every borrowed connection; afterwards nothing is handed out.
int closeAll(const QString& dir) {
    FRESH_CHECK(QDir().mkpath(dir), 1);
    writeTestDbConfig(dir);
    setApplicationDirectoryForTesting(dir);
    SQLiteDb* pool = SQLiteDb::instance();
    QSqlDatabase kept = pool->openConnection();
    QSqlDatabase returned = pool->openConnection();
    pool->closeConnection(returned);

    std::future<void> closing =
        std::async(std::launch::async, [&] { pool->closeAllConnections(); });
    FRESH_CHECK(closing.wait_for(200ms) == std::future_status::timeout, 2);
    pool->closeConnection(kept);
    FRESH_CHECK(closing.wait_for(10s) == std::future_status::ready, 3);
    FRESH_CHECK(QSqlDatabase::connectionNames().isEmpty(), 4);
    FRESH_CHECK(!pool->openConnection().isValid(), 5);
    return 0;
}

// PostgreSQL: a server that cannot be reached gives invalid connections at once, keeps nothing
// registered and is logged once; when it can be reached the pool opens connections again.
int unreachableServer(const QString& dir) {
    const QString appDir = dir + QStringLiteral("/app");
    const QString socket = dir + QStringLiteral("/socket");
    FRESH_CHECK(QDir().mkpath(appDir), 1);
    writeTestDbConfig(appDir);
    QSettings(appDir + QStringLiteral("/config.ini"), QSettings::IniFormat)
        .setValue(QStringLiteral("LocalParam/DbHost"), socket);
    setApplicationDirectoryForTesting(appDir);
    MessageCapture capture;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 2 * SQLiteDb::kMaxConnections; ++i) {
        QSqlDatabase connection = SQLiteDb::instance()->openConnection();
        FRESH_CHECK(!connection.isValid(), 2);
    }
    FRESH_CHECK(clock.elapsed() < 3000, 3);  // no wait for a server that is not there
    FRESH_CHECK(QSqlDatabase::connectionNames().isEmpty(), 4);
    FRESH_CHECK(capture.lines().filter("[SQLiteDb] the database is away").size() == 1, 5);
    QList<struDeviceInfo> devices;
    FRESH_CHECK(!Tab_DeviceInfo().getAllDevices(devices), 6);

    FRESH_CHECK(QFile::link(testClusterDir(), socket), 7);
    QSqlDatabase connection;
    while (!connection.isValid() && clock.elapsed() < 20000)
        connection = SQLiteDb::instance()->openConnection();
    FRESH_CHECK(connection.isOpen(), 8);
    FRESH_CHECK(connection.connectionName() == QStringLiteral("Connection-1"), 9);
    FRESH_CHECK(capture.lines().filter("[SQLiteDb] the database is back").size() == 1, 10);
    return 0;
}

struct FreshScenario {
    const char* name;
    int (*run)(const QString& dir);
    bool postgres;  // the scenario's database, where it is not both
};

class SQLiteDbDeathTest : public ::testing::TestWithParam<FreshScenario> {};

TEST_P(SQLiteDbDeathTest, EndsWithoutAFailedCheck) {
    if (testingPostgreSQL() != GetParam().postgres && GetParam().run != closeAll)
        GTEST_SKIP() << "a scenario of the other database";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::exit(runFresh(GetParam().run)), ::testing::ExitedWithCode(0), "");
}

INSTANTIATE_TEST_SUITE_P(
    Pool, SQLiteDbDeathTest,
    ::testing::Values(
        FreshScenario{"UnopenableDatabaseGivesInvalidConnectionsAndNoStuckPool", unopenableDatabase,
                      false},
        FreshScenario{"ConnectionThatNoLongerOpensIsDropped", connectionThatNoLongerOpens, false},
        FreshScenario{"CloseAllWaitsForBorrowedConnectionsThenRefuses", closeAll, false},
        FreshScenario{"UnreachableServerGivesInvalidConnectionsUntilItIsThere", unreachableServer,
                      true}),
    [](const ::testing::TestParamInfo<FreshScenario>& info) { return info.param.name; });

TEST(SQLiteDbTest, ClosedConnectionIsReopenedWithFreshStatements) {
    ASSERT_TRUE(DbSchema::ensure());
    Tab_DeviceInfo table;
    QList<struDeviceInfo> devices;
    // Leave prepared statements behind on every connection.
    QList<QSqlDatabase> held = borrowAll();
    giveBackAll(held);
    for (int i = 0; i < SQLiteDb::kMaxConnections; ++i) ASSERT_TRUE(table.getAllDevices(devices));

    held = borrowAll();
    for (QSqlDatabase& connection : held) connection.close();
    giveBackAll(held);
    for (int i = 0; i < SQLiteDb::kMaxConnections; ++i) {
        MessageCapture capture;
        EXPECT_TRUE(table.getAllDevices(devices));
        EXPECT_TRUE(capture.lines().isEmpty());
    }
    held = borrowAll();
    for (const QSqlDatabase& connection : held) {
        QSqlQuery query(connection);
        // Settings applied again on reopen.
        if (testingPostgreSQL()) {
            ASSERT_TRUE(query.exec(QStringLiteral("show application_name")) && query.next());
            EXPECT_EQ(query.value(0).toString(), QStringLiteral("wayfarer"));
            continue;
        }
        ASSERT_TRUE(query.exec(QStringLiteral("PRAGMA synchronous")) && query.next());
        EXPECT_EQ(query.value(0).toInt(), 1);  // NORMAL
    }
    giveBackAll(held);
}

// PostgreSQL: connections the server ended, idle or in use, are opened again; a read on one runs
// again, a write fails and writes nothing; the outage is logged once and its end once.
TEST(SQLiteDbTest, ConnectionsTheServerEndedAreOpenedAgain) {
    if (!testingPostgreSQL()) GTEST_SKIP() << "SQLite connections are never ended by a server";
    const QString away = QStringLiteral("[SQLiteDb] the database is away");
    const QString back = QStringLiteral("[SQLiteDb] the database is back");
    ASSERT_TRUE(DbSchema::ensure());
    ASSERT_TRUE(sqlExec(QStringLiteral("delete from Tab_DeviceInfo")));
    struDeviceInfo device;
    device.devSN = QStringLiteral("SN-KEPT");
    Tab_DeviceInfo table;
    ASSERT_TRUE(table.insertDevice(device));
    QList<QSqlDatabase> held = borrowAll();
    giveBackAll(held);
    // Each ended before the statement returns.
    const QString endAll =
        QStringLiteral(
            "select pg_terminate_backend(pid,10000) from pg_stat_activity where datname='%1'")
            .arg(testDatabaseName());
    QString error;

    ASSERT_TRUE(clusterExec(endAll, error)) << error.toStdString();
    {
        MessageCapture capture;
        for (int i = 0; i < SQLiteDb::kMaxConnections; ++i) {
            struDeviceInfo read;
            EXPECT_EQ(table.getDeviceBySN(read, device.devSN), Tab_DeviceInfo::RowState::Found);
        }
        const QStringList lines = capture.lines();
        EXPECT_EQ(lines.filter(away).size(), 1) << lines.join('\n').toStdString();
        EXPECT_EQ(lines.filter(back).size(), 1) << lines.join('\n').toStdString();
        EXPECT_TRUE(lines.filter(QStringLiteral("Unable to free statement")).isEmpty());
    }

    const auto endThis = [&](PooledConnection& connection) {
        QSqlQuery pid(connection.database());
        ASSERT_TRUE(pid.exec(QStringLiteral("select pg_backend_pid()")) && pid.next());
        ASSERT_TRUE(clusterExec(
            QStringLiteral("select pg_terminate_backend(%1,10000)").arg(pid.value(0).toInt()),
            error))
            << error.toStdString();
    };
    {
        MessageCapture capture;
        PooledConnection connection;
        ASSERT_TRUE(connection.isUsable());
        endThis(connection);
        QSqlQuery& count = connection.prepare(
            QStringLiteral("select count(*) from Tab_DeviceInfo where devSN=:devSN"));
        count.bindValue(QStringLiteral(":devSN"), device.devSN);
        QSqlQuery* rows = connection.read(count);
        ASSERT_NE(rows, nullptr);
        ASSERT_TRUE(rows->next());
        EXPECT_EQ(rows->value(0).toInt(), 1);

        endThis(connection);
        QSqlQuery& write = connection.prepare(
            QStringLiteral("update Tab_DeviceInfo set AppVersion='lost' where devSN=:devSN"));
        write.bindValue(QStringLiteral(":devSN"), device.devSN);
        EXPECT_FALSE(write.exec());
        EXPECT_TRUE(capture.lines().filter(QStringLiteral("Unable to free statement")).isEmpty());
    }
    struDeviceInfo read;
    ASSERT_EQ(table.getDeviceBySN(read, device.devSN), Tab_DeviceInfo::RowState::Found);
    EXPECT_EQ(read.AppVersion, QString(""));
}
