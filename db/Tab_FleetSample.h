#pragma once

#include <QList>

#include "db/RecordColumns.h"
#include "model/struFleetSample.h"

// Tab_FleetSample: the fleet's counts at each sampling period, kept for the dashboard's charts
// over time. Several instances sampling the same period keep the row written first. Holds no
// state; every operation borrows a pooled connection.
class Tab_FleetSample {
  public:
    static const RecordColumns<struFleetSample>& columns();

    // Each sample whose period and series have no row yet.
    static bool recordAbsent(const QList<struFleetSample>& samples);
    // Whether the period has a row of the series: another instance sampled it already.
    static bool has(qint32 periodStart, const QString& series, bool& found);
    static bool removeBefore(qint32 periodStart);
    // Oldest first.
    static bool since(qint32 periodStart, QList<struFleetSample>& samples);
};
