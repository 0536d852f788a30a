#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include "model/struRolloutPlan.h"

// When a plan may newly offer its package: its start time and its time-of-day windows.
class RolloutSchedule {
  public:
    static constexpr int kMaxWindows = 24;
    // Minutes of the day; a window whose end is before its start runs past midnight.
    struct Window {
        int from = 0;
        int to = 0;
    };

    // "HH:MM-HH:MM" texts, each checked; canonical gives them back joined by commas as stored.
    static bool read(const QStringList& texts, QString& canonical, QString& error);
    static QList<Window> windows(const QString& stored);
    static QStringList texts(const QString& stored);

    // Whether the plan lets the package be offered at local (the service's time of day).
    static bool allows(const struRolloutPlan& plan, const QDateTime& local);
    // Why not, for the decision's detail.
    static QString why(const struRolloutPlan& plan, const QDateTime& local);
};
