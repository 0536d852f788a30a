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
QString testAppDir();

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
