#pragma once

#include <QString>
#include <QStringList>
#include <QVariantList>

// Substring search over a terminal's serial number, plate, phone number, device ID and type. The
// one SQLite-specific part of the device queries: triggers keep those texts joined in a narrow
// table, Tab_DeviceSearchText, with an FTS5 trigram index over it; a PostgreSQL twin would put a
// trigram index here.
class DeviceSearch {
  public:
    // The schema step: the index table, its triggers and its first fill from the rows there.
    static QStringList createStatements();
    // A condition on Tab_DeviceInfo aliased d that holds for rows with text in one of the
    // searched columns, ignoring ASCII case, in the form that counts fastest or the one that
    // pages fastest; its values are appended to binds in order.
    static QString condition(const QString& text, bool forCount, QVariantList& binds);
    // A statement counting the terminals the search takes when nothing else narrows them: the
    // search tables alone answer it, as they hold one row per terminal.
    static QString count(const QString& text, QVariantList& binds);
};
