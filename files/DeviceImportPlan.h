#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QVariant>

#include "model/struDeviceInfo.h"

// What importing an edited device list would change, row by row and column by column, before
// anything is written. Version columns are written only when asked, and never over a terminal
// whose completion time differs from the file's: that file was exported before its upgrade. A
// device ID given is pinned; a starred-out one (a viewer's export) leaves the stored one.
class DeviceImportPlan {
  public:
    struct Change {
        int column;  // stored column (Tab_DeviceInfo::columns())
        QVariant from;
        QVariant to;
    };
    enum class Action { Insert, Update, Unchanged };
    struct Row {
        int line = 0;  // 1-based, the header is line 1
        QString devSN;
        Action action = Action::Unchanged;
        QList<Change> changes;               // what the import writes
        QList<Change> versionChanges;        // versions in the file that differ from the table
        bool completionTimeKnown = false;    // the file shows one (a stored terminal's row)
        bool completionTimeDiffers = false;  // shown, and not the table's
        // Stored columns whose text the file could not carry (characters outside GBK read
        // back as '?'): they stay as stored.
        QList<int> textsKept;
        // Versions or completion time differ from the table, or a text was kept.
        bool flagged = false;
        // The version changes are among changes: asked for, and the completion time shown and
        // equal (always for a new terminal).
        bool versionsWritten = false;
    };
    struct Summary {
        int rows = 0;  // data rows read
        int inserted = 0;
        int updated = 0;
        int unchanged = 0;
        int skipped = 0;  // rows without a serial number
        int flagged = 0;
        int versionsKept = 0;  // flagged rows whose versions stay as stored
    };

    // Checks the header of table (DeviceExchangeFile layout; a file without the completion time
    // column has it unknown) and reads its data rows. False for a bad header.
    bool read(const QList<QList<QVariant>>& table);
    const QStringList& serials() const { return m_serials; }

    // Compares the rows read with the stored terminals (by serial number).
    void plan(const QHash<QString, struDeviceInfo>& stored, bool writeVersions);
    const QList<Row>& rows() const { return m_rows; }
    const Summary& summary() const { return m_summary; }

    static const char* actionName(Action action);

  private:
    struct Imported {
        int line;
        struDeviceInfo device;
        bool timeKnown;
    };
    QList<Imported> m_imported;
    QStringList m_serials;
    QList<Row> m_rows;
    Summary m_summary;
};
