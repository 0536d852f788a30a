#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariantList>

// Substring search over a terminal's serial number, plate, phone number, device ID and type. The
// one database-specific part of the device queries: triggers keep those texts joined in a narrow
// table, Tab_DeviceSearchText, with a trigram index over it. SQLite's is an FTS5 trigram table;
// PostgreSQL's a GIN index of pg_trgm on the same table (a plain scan of it when the server
// lacks pg_trgm), which ILIKE uses for texts of three characters and more.
class DeviceSearch {
  public:
    // The schema step: the index table, its triggers and its first fill from the rows there.
    static bool create(QSqlDatabase& db);
    // A condition on Tab_DeviceInfo aliased d that holds for rows with text in one of the
    // searched columns, ignoring ASCII case, in the form that counts fastest or the one that
    // pages fastest; its values are appended to binds in order.
    static QString condition(const QSqlDatabase& db, const QString& text, bool forCount,
                             QVariantList& binds);
    // A condition on d that holds when the text is in a searched column other than the device
    // ID; beside condition(), it keeps a search from telling whether a device ID holds it.
    static QString outsideDeviceId(const QSqlDatabase& db, const QString& text,
                                   QVariantList& binds);
    // A statement counting the terminals the search takes when nothing else narrows them: the
    // search tables alone answer it, as they hold one row per terminal.
    static QString count(const QSqlDatabase& db, const QString& text, QVariantList& binds);
    // The LIKE pattern "text anywhere", with backslash as the escape character.
    static QString likePattern(QString text);
};
