#pragma once

#include <QString>
#include <QStringList>
#include <QVariantList>

// Substring search over a terminal's serial number, plate, phone number, device ID and type. The
// one SQLite-specific part of the device queries: an FTS5 table with the trigram tokenizer kept
// in step with Tab_DeviceInfo by triggers; a PostgreSQL twin would put trigram indexes here.
class DeviceSearch {
  public:
    // The schema step: the index table, its triggers and its first fill from the rows there.
    static QStringList createStatements();
    // A condition on Tab_DeviceInfo aliased d that holds for rows with text in one of the
    // searched columns, ignoring ASCII case; its values are appended to binds in order.
    static QString condition(const QString& text, QVariantList& binds);
};
