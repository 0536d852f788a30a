#pragma once

// wayfarer --migrate-to-postgresql: copies WFS.db of the application directory into the
// PostgreSQL database that config.ini names, with the service stopped. Prints each table's rows
// and returns the process's exit code.
int migrateToPostgreSQL();
