#pragma once

#include <QList>
#include <QString>

// Tab_RetryRelease: per terminal and package, the installs that did not take which an operator
// let go of. A terminal is held back once the installs of the package's current upload that did
// not take, less those let go of, reach the retry limit. Holds no state; every operation borrows
// a pooled connection.
class Tab_RetryRelease {
  public:
    struct Held {
        QString devSN;
        int failures = 0;  // not let go of
        int total = 0;     // every one of the upload
    };

    // The installs of the upload that did not take on the terminal and were not let go of.
    static bool failures(qint32 packageId, const QString& packageName, const QString& devSN,
                         int& count);
    // The terminals of the upload at or past the limit, by serial number.
    static bool held(qint32 packageId, const QString& packageName, int limit, QList<Held>& rows);
    // Lets go of the failures so far of the terminal, or of every held one (devSN empty); released
    // says how many terminals were held.
    static bool release(qint32 packageId, const QString& packageName, const QString& devSN,
                        int limit, qint32 now, int& released);
};
