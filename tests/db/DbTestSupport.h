#pragma once

#include <gtest/gtest.h>
#include <ostream>

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

// Tables present and empty before each table test.
class DbTableTest : public ::testing::Test {
  protected:
    void SetUp() override;
};
