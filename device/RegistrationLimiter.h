#pragma once

#include <QHash>
#include <QString>
#include <QTimer>

#include "device/BurstLog.h"

// Bounds how fast serial numbers never seen before become devices, per source address and
// overall: each a bucket that holds a minute's worth and refills at its rate per minute, so a
// fleet's first connection goes through in a burst while a stream of invented serial numbers
// is held to the rate. Refusals are logged once per burst. Main thread only.
class RegistrationLimiter {
  public:
    // Addresses remembered at once; past that full buckets are forgotten first.
    static constexpr int kMaxAddresses = 4096;

    // 0 for either rate: no limit of that kind.
    RegistrationLimiter(quint32 perMinutePerAddress, quint32 perMinute, qint64 logWindowMs = 5000);

    // Takes one registration from address's bucket and the overall one; false (and nothing
    // taken) when either is empty.
    bool admit(const QString& address);
    bool admit(const QString& address, qint64 nowMs);

  private:
    struct Bucket {
        double tokens = 0;
        qint64 atMs = 0;
    };
    // The bucket refilled up to nowMs at perMinute, at most one minute's worth.
    static void refill(Bucket& bucket, quint32 perMinute, qint64 nowMs);
    Bucket& addressBucket(const QString& address, qint64 nowMs);

    const quint32 m_perAddress;
    const quint32 m_overall;
    Bucket m_total;
    QHash<QString, Bucket> m_byAddress;
    BurstLog m_refusals;
    QTimer m_flush;  // writes the last line of a burst once its window has passed
};
