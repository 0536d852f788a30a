#include <thread>

#include <gtest/gtest.h>
#include <QSqlQuery>

#include "db/PinnedTransaction.h"
#include "db/PooledConnection.h"
#include "tests/db/DbTestSupport.h"

namespace {
int probeRows() {
    return sqlValue(QStringLiteral("select count(*) from Probe")).toInt();
}

// What another thread, and so another connection, reads meanwhile.
int probeRowsElsewhere() {
    int rows = -1;
    std::thread reader([&rows] { rows = probeRows(); });
    reader.join();
    return rows;
}
}  // namespace

// The borrows of a scope write in one transaction, seen elsewhere only once committed. A guarded
// piece of work whose statement fails spoils none of the others (PostgreSQL would refuse every
// later statement), and a table operation's own transaction inside does not end the scope's.
TEST_F(DbTableTest, PinnedTransactionCommitsItsGuardedWorkTogether) {
    ASSERT_TRUE(sqlExec(QStringLiteral("create table if not exists Probe(k integer primary key)")));
    ASSERT_TRUE(sqlExec(QStringLiteral("delete from Probe")));
    {
        PinnedTransaction scope;
        ASSERT_TRUE(scope.isOpen());
        scope.guard([] { EXPECT_TRUE(sqlExec(QStringLiteral("insert into Probe values(1)"))); });
        scope.guard([] { EXPECT_FALSE(sqlExec(QStringLiteral("insert into Probe values(1)"))); });
        scope.guard([] {
            PooledConnection own;
            ASSERT_TRUE(own.transaction());
            QSqlQuery insert(own.database());
            EXPECT_TRUE(insert.exec(QStringLiteral("insert into Probe values(2)")));
            EXPECT_TRUE(own.commit());
        });
        EXPECT_EQ(probeRows(), 2);
        EXPECT_EQ(probeRowsElsewhere(), 0);
        PinnedTransaction inner;  // scopes do not nest
        EXPECT_FALSE(inner.isOpen());
        // Failing last, it is undone at the commit, not the work before it.
        scope.guard([] { EXPECT_FALSE(sqlExec(QStringLiteral("insert into Probe values(2)"))); });
        EXPECT_TRUE(scope.commit());
        EXPECT_FALSE(scope.isOpen());
    }
    EXPECT_EQ(probeRowsElsewhere(), 2);
    {
        PinnedTransaction uncommitted;
        ASSERT_TRUE(uncommitted.isOpen());
        EXPECT_TRUE(sqlExec(QStringLiteral("insert into Probe values(3)")));
    }
    EXPECT_EQ(probeRows(), 2);
    ASSERT_TRUE(sqlExec(QStringLiteral("drop table Probe")));
}
