// Upgrade attempts through their events: started, progressing, completed, superseded, and the
// stall read at a given time, one sequence per row.
#include "db/Tab_UpgradeAttempt.h"

#include "db/Tab_RetryRelease.h"

#include "tests/db/DbTestSupport.h"

namespace {
class TabUpgradeAttemptTest : public DbTableTest {
  protected:
    void SetUp() override {
        DbTableTest::SetUp();
        ASSERT_TRUE(sqlExec(QStringLiteral("delete from Tab_UpgradeAttempt")));
        ASSERT_TRUE(sqlExec(QStringLiteral("delete from Tab_RetryRelease")));
    }
    static void start(const QString& sn, qint32 at, qint32 package = 1,
                      const QString& upload = QStringLiteral("p.bin")) {
        struUpgradeAttempt attempt;
        attempt.devSN = sn;
        attempt.packageId = package;
        attempt.packageName = upload;
        attempt.startedAt = at;
        ASSERT_TRUE(Tab_UpgradeAttempt::start(attempt));
    }
    // The terminal's attempts, newest first, as "state:lastProgress".
    static QStringList history(const QString& sn, qint32 stalledBefore) {
        Tab_UpgradeAttempt::Filter filter;
        filter.devSN = sn;
        filter.stalledBefore = stalledBefore;
        QList<Tab_UpgradeAttempt::Row> rows;
        int total = -1;
        EXPECT_TRUE(Tab_UpgradeAttempt::list(filter, 0, 50, rows, total));
        QStringList out;
        for (const auto& row : rows)
            out << QStringLiteral("%1:%2")
                       .arg(upgradeAttemptStateName(row.state))
                       .arg(row.attempt.lastProgress);
        EXPECT_EQ(total, out.size());
        return out;
    }
};

struct Event {
    char kind;  // 's' start, 'p' progress
    qint32 at;
    int percent;
};
}  // namespace

TEST_F(TabUpgradeAttemptTest, EventsGiveTheirStates) {
    const struct {
        const char* name;
        std::vector<Event> events;
        qint32 stalledBefore;
        QStringList expected;
    } cases[] = {
        {"just started", {{'s', 100, 0}}, 50, {"running:0"}},
        {"silent since it started", {{'s', 100, 0}}, 150, {"stalled:0"}},
        {"progress keeps it running", {{'s', 100, 0}, {'p', 200, 40}}, 150, {"running:40"}},
        {"silent since its progress", {{'s', 100, 0}, {'p', 200, 40}}, 250, {"stalled:40"}},
        {"100 completes, for good",
         {{'s', 100, 0}, {'p', 200, 100}, {'p', 300, 40}},
         9999,
         {"completed:100"}},
        {"a new start supersedes an open one",
         {{'s', 100, 0}, {'p', 150, 30}, {'s', 200, 0}, {'p', 210, 60}},
         50,
         {"running:60", "superseded:30"}},
        {"a finished one stays finished",
         {{'s', 100, 0}, {'p', 150, 100}, {'s', 200, 0}},
         50,
         {"running:0", "completed:100"}},
        {"progress without an attempt", {{'p', 100, 50}}, 50, {}},
    };
    int n = 0;
    for (const auto& c : cases) {
        const QString sn = QStringLiteral("SN%1").arg(++n);
        for (const Event& e : c.events) {
            if (e.kind == 's')
                start(sn, e.at);
            else
                ASSERT_TRUE(Tab_UpgradeAttempt::progress(sn, e.percent, e.at));
        }
        EXPECT_EQ(history(sn, c.stalledBefore), c.expected) << c.name;
    }
}

TEST_F(TabUpgradeAttemptTest, ListFiltersAndPages) {
    start("A", 100, 1);
    start("B", 100, 2);
    ASSERT_TRUE(Tab_UpgradeAttempt::progress("B", 100, 120));
    start("C", 100, 1);
    ASSERT_TRUE(Tab_UpgradeAttempt::progress("C", 40, 300));
    const struct {
        const char* name;
        qint32 package;
        bool byState;
        UpgradeAttemptState state;
        QStringList expected;
    } cases[] = {
        {"everything, newest first", 0, false, UpgradeAttemptState::Running, {"C", "B", "A"}},
        {"one package", 1, false, UpgradeAttemptState::Running, {"C", "A"}},
        {"stalled", 0, true, UpgradeAttemptState::Stalled, {"A"}},
        {"running", 0, true, UpgradeAttemptState::Running, {"C"}},
        {"completed of package 1", 1, true, UpgradeAttemptState::Completed, {}},
    };
    for (const auto& c : cases) {
        Tab_UpgradeAttempt::Filter filter;
        filter.packageId = c.package;
        filter.byState = c.byState;
        filter.state = c.state;
        filter.stalledBefore = 200;
        QList<Tab_UpgradeAttempt::Row> rows;
        int total = 0;
        ASSERT_TRUE(Tab_UpgradeAttempt::list(filter, 0, 50, rows, total)) << c.name;
        QStringList serials;
        for (const auto& row : rows) serials << row.attempt.devSN;
        EXPECT_EQ(serials, c.expected) << c.name;
        EXPECT_EQ(total, c.expected.size()) << c.name;
    }
    Tab_UpgradeAttempt::Filter all;
    QList<Tab_UpgradeAttempt::Row> page;
    int total = 0;
    ASSERT_TRUE(Tab_UpgradeAttempt::list(all, 1, 1, page, total));
    ASSERT_EQ(page.size(), 1);
    EXPECT_EQ(page.first().attempt.devSN, "B");
    EXPECT_EQ(total, 3);
}

// How each attempt ended, the terminals that failed an upload, and the retry limit with its
// release, in one history: A's install did not take twice, B succeeded, C gave up a download
// and started over, D moved on to another upload.
TEST_F(TabUpgradeAttemptTest, ResultsFailedTerminalsAndReleases) {
    const auto installed = [](const QString& sn, qint32 at, const char* outcome) {
        ASSERT_TRUE(Tab_UpgradeAttempt::progress(sn, 100, at));
        struUpgradeAttempt attempt;
        bool found = false;
        ASSERT_TRUE(Tab_UpgradeAttempt::completedUnjudged(sn, attempt, found) && found);
        ASSERT_TRUE(Tab_UpgradeAttempt::judge(attempt.id, QLatin1String(outcome), at));
    };
    for (qint32 at : {100, 200}) {
        start("A", at);
        installed("A", at + 10, kOutcomeReverted);
    }
    start("A", 300);
    start("B", 100);
    installed("B", 110, kOutcomeSucceeded);
    start("C", 100);
    start("C", 200);
    start("D", 100);
    start("D", 300, 1, "q.bin");
    const qint32 stalledBefore = 250;
    Tab_UpgradeAttempt::Filter all;
    all.stalledBefore = stalledBefore;
    QList<Tab_UpgradeAttempt::Row> rows;
    int total = 0;
    ASSERT_TRUE(Tab_UpgradeAttempt::list(all, 0, 50, rows, total));
    QStringList results;
    for (const auto& row : rows) results << row.attempt.devSN + ":" + row.result;
    EXPECT_EQ(results, QStringList({"D:", "D:superseded", "C:stalled", "C:abandoned", "B:succeeded",
                                    "A:", "A:notTaken", "A:notTaken"}));

    QList<Tab_UpgradeAttempt::Failed> failed;
    ASSERT_TRUE(
        Tab_UpgradeAttempt::failedTerminals(1, "p.bin", stalledBefore, 0, 50, failed, total));
    ASSERT_EQ(total, 2);
    ASSERT_EQ(failed.size(), 2);
    EXPECT_EQ(failed[0].devSN, "A");
    EXPECT_EQ(failed[0].attempts, 3);
    EXPECT_EQ(failed[0].notTaken, 2);
    EXPECT_EQ(failed[0].last.startedAt, 300);
    EXPECT_EQ(failed[1].devSN, "C");
    EXPECT_EQ(failed[1].lastResult, "stalled");

    // Held at a limit of 2 until released; released failures count no more.
    QList<Tab_RetryRelease::Held> held;
    ASSERT_TRUE(Tab_RetryRelease::held(1, "p.bin", 2, held));
    ASSERT_EQ(held.size(), 1);
    EXPECT_EQ(held[0].devSN, "A");
    int released = 0;
    ASSERT_TRUE(Tab_RetryRelease::release(1, "p.bin", QString(), 2, 400, released));
    EXPECT_EQ(released, 1);
    int failures = -1;
    ASSERT_TRUE(Tab_RetryRelease::failures(1, "p.bin", "A", failures));
    EXPECT_EQ(failures, 0);
    installed("A", 410, kOutcomeReverted);
    ASSERT_TRUE(Tab_RetryRelease::failures(1, "p.bin", "A", failures));
    EXPECT_EQ(failures, 1);
    ASSERT_TRUE(Tab_RetryRelease::failures(1, "q.bin", "A", failures));
    EXPECT_EQ(failures, 0);
}
