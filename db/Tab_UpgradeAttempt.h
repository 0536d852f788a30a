#pragma once

#include <QList>
#include <QString>
#include <QVariantList>

#include "db/RecordColumns.h"
#include "model/struUpgradeAttempt.h"

// Tab_UpgradeAttempt: every upgrade handed to a terminal, kept after it finished or stalled.
// Holds no state; every operation borrows a pooled connection.
class Tab_UpgradeAttempt {
  public:
    static const RecordColumns<struUpgradeAttempt>& columns();

    struct Row {
        struUpgradeAttempt attempt;
        UpgradeAttemptState state = UpgradeAttemptState::Running;
        QString result;  // attemptResultName(); empty for none yet
    };
    struct Filter {
        QString devSN;           // empty: every terminal
        QString serialPart;      // part of the serial number, ASCII case ignored; empty: any
        QString devType;         // empty: every type
        qint64 startedFrom = 0;  // started at or after, seconds since 1970; 0: open
        qint64 startedTo = 0;    // started before; 0: open
        qint32 packageId = 0;    // 0: every package
        bool byState = false;
        UpgradeAttemptState state = UpgradeAttemptState::Running;
        qint32 stalledBefore = 0;  // no progress since then counts as stalled
        bool byResult = false;
        AttemptResult result = AttemptResult::Succeeded;
    };
    // A terminal whose attempts for one upload failed and never succeeded, with its last one.
    struct Failed {
        QString devSN;
        int attempts = 0;
        int notTaken = 0;
        struUpgradeAttempt last;
        QString lastResult;  // attemptResultName(); empty for none yet
    };

    // Records a new attempt as the terminal's current one; an earlier attempt still open
    // becomes superseded. One transaction.
    static bool start(const struUpgradeAttempt& attempt);
    // A progress report of the terminal's current open attempt; 100 completes it. False when the
    // statement failed; a terminal without an open attempt changes nothing.
    // stored, when given, tells whether an open attempt took it.
    static bool progress(const QString& devSN, int percent, qint32 now, bool* stored = nullptr);
    // The terminal's current attempt when it has reported 100 and has no outcome yet; found
    // tells whether there is one.
    static bool completedUnjudged(const QString& devSN, struUpgradeAttempt& attempt, bool& found);
    static bool judge(qint32 attemptId, const QString& outcome, qint32 now);
    // Newest first.
    static bool list(const Filter& filter, int offset, int limit, QList<Row>& rows, int& total);

    // Terminals with a failed attempt (not taken, stalled, abandoned) for the upload and none
    // that succeeded, by serial number.
    static bool failedTerminals(qint32 packageId, const QString& packageName, qint32 stalledBefore,
                                int offset, int limit, QList<Failed>& rows, int& total);

    // The condition "the attempt aliased a has result", with its values appended to binds.
    static QString resultCondition(AttemptResult result, qint32 stalledBefore, QVariantList& binds);
    // The condition "the attempt aliased a is in state", with its values appended to binds.
    static QString stateCondition(UpgradeAttemptState state, qint32 stalledBefore,
                                  QVariantList& binds);
};
