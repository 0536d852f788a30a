#include "tests/db/DbTestSupport.h"

#include <QSqlQuery>
#include <QTemporaryDir>

#include "core/AppDir.h"
#include "db/DbSchema.h"
#include "db/PooledConnection.h"

namespace {
class DbEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        m_dir.reset(new QTemporaryDir());
        ASSERT_TRUE(m_dir->isValid());
        setApplicationDirectoryForTesting(m_dir->path());
    }
    // The directory outlives the pool's open files; removal at process end is fine on Linux.
    std::unique_ptr<QTemporaryDir> m_dir;
};

DbEnvironment* const g_environment =
    static_cast<DbEnvironment*>(::testing::AddGlobalTestEnvironment(new DbEnvironment));
}  // namespace

QString testAppDir() {
    return g_environment->m_dir->path();
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
