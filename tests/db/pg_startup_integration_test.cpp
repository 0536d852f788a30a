// The real service configured for a PostgreSQL server that is not there yet: it starts, answers
// terminals as unknown and says the database is away; when the server appears, a terminal's
// report lands in the table.
#include <gtest/gtest.h>

#include <QDir>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>
#include <QUuid>

#include "codec/TerminalPackets.h"
#include "tests/db/PgCluster.h"
#include "tests/support/FakeTerminal.h"
#include "tests/support/ServiceProcess.h"

namespace {
QByteArray report(const QString& sn, quint16 serialNo) {
    DeviceReport id;
    id.devSN = sn;
    id.devType = QStringLiteral("T1");
    id.AppVersion = QStringLiteral("V1");
    return TerminalPackets::frame(0x0001, sn.toUtf8(), serialNo,
                                  TerminalPackets::reportBody(id, false));
}

int storedRows(const QString& socketDir, const QString& sn) {
    const QString name = QStringLiteral("pg-startup-check");
    int rows = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setHostName(socketDir);
        db.setPort(5432);
        db.setUserName(QStringLiteral("wayfarer"));
        db.setDatabaseName(QStringLiteral("wayfarer"));
        QSqlQuery query(db);
        if (db.open() &&
            query.exec(
                QStringLiteral("select count(*) from Tab_DeviceInfo where devSN='%1'").arg(sn)) &&
            query.next())
            rows = query.value(0).toInt();
    }
    QSqlDatabase::removeDatabase(name);
    return rows;
}
}  // namespace

TEST(PostgresStartup, ServiceStartsWithoutTheServerAndCatchesUpWhenItAppears) {
    // Not made yet: the server's user must own it, and the service finds no server there.
    const QString socketDir = PgCluster::freshDir();
    ServiceProcess service;
    PgCluster(socketDir).serve(service);
    ASSERT_TRUE(service.start()) << service.output().toStdString();

    FakeTerminal terminal;
    ASSERT_TRUE(terminal.connectTo(service.tcpPort()));
    quint16 serialNo = 1;
    ASSERT_TRUE(terminal.write(report(QStringLiteral("PG-LATE"), serialNo)));
    ASSERT_TRUE(terminal.waitForData(42 + 132));  // answered as an unknown terminal
    terminal.take();
    EXPECT_TRUE(service.output().contains("[SQLiteDb] the database is away"))
        << service.output().toStdString();

    PgCluster cluster(socketDir);
    START_PG_CLUSTER(cluster);

    // Caught up on its own: the schema is made and the start-up steps done.
    ASSERT_TRUE(waitUntil(
        [&] { return service.output().contains("[start] the database is ready"); }, 60000))
        << service.output().toStdString();
    ASSERT_TRUE(terminal.write(report(QStringLiteral("PG-LATE"), ++serialNo)));
    ASSERT_TRUE(terminal.waitForData(42 + 132));
    EXPECT_TRUE(
        waitUntil([&] { return storedRows(socketDir, QStringLiteral("PG-LATE")) == 1; }, 10000))
        << service.output().toStdString();
    EXPECT_TRUE(service.output().contains("[SQLiteDb] the database is back"));
    EXPECT_TRUE(service.running());
    // Tried again and again while the server was missing, and said so once per reason (a server
    // still starting up is another reason).
    QStringList said;
    for (const QByteArray& line : service.output().split('\n'))
        if (line.contains("[SQLiteDb] the database said:")) said << QString::fromUtf8(line);
    EXPECT_GE(said.size(), 1);
    EXPECT_EQ(said.size(), QSet<QString>(said.begin(), said.end()).size())
        << said.join('\n').toStdString();
    EXPECT_FALSE(service.output().contains("Open the database fail"));
}
