#pragma once

#include <vector>

#include <QSqlDatabase>

#include "db/Migration.h"

// Brings WFS.db to the newest schema: the steps not yet recorded in Tab_SchemaVersion run in
// order, each in its own transaction with its record. Run once at start-up before any listener;
// false means the database is unusable (or newer than this program) and start-up ends.
class DbSchema {
  public:
    enum class State { Ready, Unreachable, Failed };
    // As ensure(), telling a PostgreSQL server that cannot be reached (start-up goes on and
    // tries again) from a database that refused the schema.
    static State prepare();
    static bool ensure() { return prepare() == State::Ready; }
    // The same on a given connection and list of steps; for tests.
    static bool migrate(QSqlDatabase& db, const std::vector<Migration>& steps);
    // The highest step recorded, 0 for none, -1 when it cannot be read.
    static int currentVersion(QSqlDatabase& db);
};
