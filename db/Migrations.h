#pragma once

#include <vector>

#include "db/Migration.h"

// Every schema step in version order. A new step goes at the end with the next number; a step
// that has landed is never edited. Each runs on SQLite and on PostgreSQL: where their SQL differs
// the step writes both texts with SqlDialect::twin.
const std::vector<Migration>& allMigrations();
