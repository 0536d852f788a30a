#pragma once

#include <QString>

// Whether the database can serve this program now: the server answers a read and the schema is
// at least the newest step this program knows. Asked by a balancer's health check and at every
// scrape, so it reads one row and writes nothing; while the pool waits to retry an unreachable
// server it answers at once.
struct DbReadiness {
    bool reachable = false;
    bool ready = false;
    QString reason;  // why not ready, one short line

    static DbReadiness check();
};
