#pragma once

#include <QString>

struct struLocalParam;

// Which database the pool opens, from the Db* keys of config.ini: WFS.db beside the program
// (the default, with no key set) or a PostgreSQL server.
struct DbSettings {
    enum class Driver { SQLite, PostgreSQL, Unknown };

    Driver driver = Driver::SQLite;
    QString driverText;  // as configured, for the message about an unknown one
    QString host;        // empty: libpq's default socket directory
    int port = 0;
    QString name;
    QString user;
    QString password;
    bool passwordUnreadable = false;  // DbPasswordFile was set and could not be read

    // The settings in config.ini of the application directory.
    static DbSettings fromConfig();
    static DbSettings fromParam(const struLocalParam& param);
};
