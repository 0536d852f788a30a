#pragma once

#include <gtest/gtest.h>
#include <ostream>

#include <QList>
#include <QPair>
#include <QString>
#include <QVariant>

// Readable QString values in failure messages.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

// The db tests share one WFS.db in a temporary application directory, set before anything
// creates the pool. Nothing here creates the pool, so a child process of a death test may
// still point it elsewhere.
//
// With WAYFARER_TEST_PG naming the state file of a test cluster (tests/support/pg_cluster.sh),
// the same tests run against PostgreSQL instead: a database of this process's own in that
// cluster, named by the config.ini of the application directory. Without a cluster (the server
// is not installed) every test skips and says why.
QString testAppDir();
bool testingPostgreSQL();
// Writes the config.ini keys of the test database into dir; none for SQLite.
void writeTestDbConfig(const QString& dir);
// The Unix socket directory of the test cluster.
QString testClusterDir();
// The name of this process's database in the test cluster.
QString testDatabaseName();
// Runs one statement on the test cluster outside the pool; false with the error in error.
bool clusterExec(const QString& statement, QString& error);

// Runs one statement on a pooled connection; returns the first column of the first row.
QVariant sqlValue(const QString& statement);
bool sqlExec(const QString& statement);

// Tables present and empty before each table test. A test may drop a table to make statements
// fail: the tables and indexes it started with are created again afterwards, because the
// schema steps, once recorded as done, would not, and the next test in the process needs them.
class DbTableTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

  private:
    QList<QPair<QString, QString>> m_schema;  // name and statement, in order of creation
};
