#include "tests/db/DbTestSupport.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QSettings>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include "core/AppDir.h"
#include "db/DbSchema.h"
#include "db/PooledConnection.h"
#include "db/SqlDialect.h"

namespace {
// Shell assignments NAME='value' as pg_cluster.sh writes them.
QHash<QString, QString> readState(const QString& path) {
    QHash<QString, QString> values;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return values;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const int eq = line.indexOf('=');
        if (eq > 0)
            values.insert(QString::fromUtf8(line.left(eq)),
                          QString::fromUtf8(line.mid(eq + 1)).remove(QLatin1Char('\'')));
    }
    return values;
}

// Statements on the cluster outside the pool, which must not count them.
bool adminExec(const QHash<QString, QString>& cluster, const QString& statement, QString& error) {
    const QString name = QStringLiteral("wayfarer-test-admin");
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setHostName(cluster.value(QStringLiteral("PG_DIR")));
        db.setPort(cluster.value(QStringLiteral("PG_PORT")).toInt());
        db.setUserName(cluster.value(QStringLiteral("PG_USER")));
        db.setDatabaseName(QStringLiteral("postgres"));
        ok = db.open();
        QSqlQuery query(db);
        ok = ok && query.exec(statement);
        error = ok ? QString() : db.lastError().text() + query.lastError().text();
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

class DbEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        m_dir.reset(new QTemporaryDir());
        ASSERT_TRUE(m_dir->isValid());
        setApplicationDirectoryForTesting(m_dir->path());
        const QString state = qEnvironmentVariable("WAYFARER_TEST_PG");
        if (state.isEmpty()) return;
        m_cluster = readState(state);
        if (m_cluster.contains(QStringLiteral("PG_MISSING")))
            GTEST_SKIP() << "PostgreSQL half skipped: "
                         << m_cluster.value(QStringLiteral("PG_MISSING")).toStdString();
        ASSERT_TRUE(m_cluster.contains(QStringLiteral("PG_DIR")))
            << "no test cluster described in " << state.toStdString();
        m_database = QStringLiteral("wayfarer_test_%1_%2")
                         .arg(QCoreApplication::applicationPid())
                         .arg(QDateTime::currentMSecsSinceEpoch());
        QString error;
        ASSERT_TRUE(adminExec(m_cluster, QStringLiteral("create database ") + m_database, error))
            << error.toStdString();
        writeTestDbConfig(m_dir->path());
    }
    void TearDown() override {
        QString error;
        // The pool's connections are ended with it: nothing uses them after the last test.
        if (m_database.isEmpty()) return;
        EXPECT_TRUE(adminExec(
            m_cluster, QStringLiteral("drop database %1 with (force)").arg(m_database), error))
            << error.toStdString();
    }
    // The directory outlives the pool's open files; removal at process end is fine on Linux.
    std::unique_ptr<QTemporaryDir> m_dir;
    QHash<QString, QString> m_cluster;
    QString m_database;
};

DbEnvironment* const g_environment =
    static_cast<DbEnvironment*>(::testing::AddGlobalTestEnvironment(new DbEnvironment));
}  // namespace

QString testAppDir() {
    return g_environment->m_dir->path();
}

bool testingPostgreSQL() {
    return !qEnvironmentVariableIsEmpty("WAYFARER_TEST_PG");
}

QString testClusterDir() {
    return g_environment->m_cluster.value(QStringLiteral("PG_DIR"));
}

QString testDatabaseName() {
    return g_environment->m_database;
}

bool clusterExec(const QString& statement, QString& error) {
    return adminExec(g_environment->m_cluster, statement, error);
}

void writeTestDbConfig(const QString& dir) {
    if (!testingPostgreSQL()) return;
    const QHash<QString, QString>& cluster = g_environment->m_cluster;
    const QString passwordFile = dir + QStringLiteral("/db-password");
    QFile password(passwordFile);
    // The cluster trusts its socket; the file is read all the same.
    if (password.open(QIODevice::WriteOnly)) password.write("unused\n");
    QSettings settings(dir + QStringLiteral("/config.ini"), QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("LocalParam"));
    settings.setValue(QStringLiteral("DbDriver"), QStringLiteral("postgresql"));
    settings.setValue(QStringLiteral("DbHost"), cluster.value(QStringLiteral("PG_DIR")));
    settings.setValue(QStringLiteral("DbPort"), cluster.value(QStringLiteral("PG_PORT")));
    settings.setValue(QStringLiteral("DbName"), g_environment->m_database);
    settings.setValue(QStringLiteral("DbUser"), cluster.value(QStringLiteral("PG_USER")));
    settings.setValue(QStringLiteral("DbPasswordFile"), passwordFile);
}

QVariant sqlValue(const QString& statement) {
    PooledConnection connection;
    if (!connection.isUsable()) return QVariant();
    QSqlQuery query(connection.database());
    if (!query.exec(statement) || !query.next()) return QVariant();
    return query.value(0);
}

bool sqlExec(const QString& statement) {
    PooledConnection connection;
    if (!connection.isUsable()) return false;
    QSqlQuery query(connection.database());
    return query.exec(statement);
}

void DbTableTest::SetUp() {
    if (testingPostgreSQL()) {
        // A test that dropped a table: everything is built again by the schema steps.
        if (!sqlExec(QStringLiteral("select 1 from Tab_DeviceInfo limit 1")) ||
            !sqlExec(QStringLiteral("select 1 from Tab_Package limit 1"))) {
            ASSERT_TRUE(sqlExec(QStringLiteral("drop schema public cascade")));
            ASSERT_TRUE(sqlExec(QStringLiteral("create schema public")));
        }
        ASSERT_TRUE(DbSchema::ensure());
        ASSERT_TRUE(sqlExec(QStringLiteral("delete from Tab_DeviceInfo")));
        ASSERT_TRUE(sqlExec(QStringLiteral("delete from Tab_Package")));
        return;
    }
    // A test that dropped a table to make statements fail leaves the recorded schema ahead of the
    // file, and ensure() would not bring the table back: the schema starts afresh then.
    if (!sqlExec(QStringLiteral("select 1 from Tab_DeviceInfo limit 1")) ||
        !sqlExec(QStringLiteral("select 1 from Tab_Package limit 1"))) {
        for (const char* table : {"Tab_DeviceInfo", "Tab_Package", "Tab_SchemaVersion"})
            sqlExec(QStringLiteral("drop table if exists ") + QLatin1String(table));
    }
    ASSERT_TRUE(DbSchema::ensure());
    ASSERT_TRUE(sqlExec(QStringLiteral("delete from Tab_DeviceInfo")));
    ASSERT_TRUE(sqlExec(QStringLiteral("delete from Tab_Package")));
    m_schema.clear();
    PooledConnection connection;
    ASSERT_TRUE(connection.isUsable());
    QSqlQuery query(connection.database());
    ASSERT_TRUE(
        query.exec(QStringLiteral("select name, sql from sqlite_master where sql is not "
                                  "null and name not like 'sqlite%' order by rowid")));
    while (query.next()) m_schema.append({query.value(0).toString(), query.value(1).toString()});
}

void DbTableTest::TearDown() {
    for (const auto& object : m_schema) {
        const QString exists =
            QStringLiteral("select count(*) from sqlite_master where name = '%1'")
                .arg(object.first);
        if (sqlValue(exists).toInt() == 0) {
            EXPECT_TRUE(sqlExec(object.second)) << object.first.toStdString();
        }
    }
}
