#pragma once

// Creates Tab_DeviceInfo and Tab_Package in WFS.db when they are missing; an existing table is
// used as it is. Run once at start-up before any listener; false means the database is unusable.
class DbSchema {
  public:
    static bool ensure();
};
