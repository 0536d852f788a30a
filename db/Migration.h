#pragma once

#include <QSqlDatabase>

// One numbered step of the schema. Steps run once each, in order, at start-up; the version table
// records which ran, so an existing WFS.db upgrades in place and a new one is built by the same
// steps.
struct Migration {
    int version;
    const char* summary;
    // Runs inside the step's transaction; false rolls the step back and stops start-up.
    bool (*apply)(QSqlDatabase& db);
    // The step only adds (tables, columns with defaults, indexes): a program that does not know
    // it still runs on the database. A step that removes or renames stays incompatible and ships
    // a release after the one that stopped using what it removes.
    bool compatible = false;
};
