#pragma once

#include <QList>
#include <QSqlDatabase>
#include <QString>

// Moves a single host's WFS.db into an empty PostgreSQL database: both are brought to this
// program's schema, then every table of the file is copied in one transaction of the server's,
// whatever tables the schema steps have made. Tables that the server's own triggers fill from
// the copied rows are left to them. Every table's rows are counted on both sides before the
// commit, and the keys the server assigns continue after the copied ones.
class DatabaseCopy {
  public:
    struct Table {
        QString name;
        qint64 rows = 0;
    };

    // source: an open SQLite connection, target: an open PostgreSQL one. False with the reason
    // in error, the target then unchanged but for its schema.
    static bool run(QSqlDatabase& source, QSqlDatabase& target, QList<Table>& copied,
                    QString& error);
};
