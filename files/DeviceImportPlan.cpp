#include "files/DeviceImportPlan.h"

#include <cstdlib>

#include "db/Tab_DeviceInfo.h"
#include "files/CsvOpt.h"
#include "files/DeviceExchangeFile.h"
#include "files/DeviceListTable.h"
#include "model/ComponentVersions.h"
#include "model/DeviceIdMask.h"

namespace {
// The columns of the file an import writes besides the serial number.
const QList<const char*> kWritten = {
    "devId",     "devType",    "LicensePlateNumber", "PhoneNumber",  "isAutoUpdate",
    "ConfigCmd", "GetLogFile", "GetIndexFile",       "GetPrintFile", "GetRunInfoFile"};

QList<const char*> versionColumns() {
    QList<const char*> names;
    for (const ComponentVersion& version : kComponentVersions) names << version.name;
    return names;
}

// A missing text and an empty one are the same value.
bool same(const QVariant& a, const QVariant& b) {
    if (a.type() == QVariant::String || b.type() == QVariant::String)
        return a.toString() == b.toString();
    return a == b;
}

// Spreadsheet programs keep dates to the minute.
bool sameTime(qint32 a, qint32 b) {
    if (a == 0 || b == 0) return a == b;
    return std::abs(static_cast<qint64>(a) - b) < 60;
}

// A text the GBK file turned into '?' is kept as stored and its column listed in `kept`.
QList<DeviceImportPlan::Change> differences(const QList<const char*>& names,
                                            const struDeviceInfo& file,
                                            const struDeviceInfo* stored, QList<int>& kept) {
    QList<DeviceImportPlan::Change> changes;
    for (const char* name : names) {
        const int column = Tab_DeviceInfo::columns().indexOf(QLatin1String(name));
        const QVariant to = Tab_DeviceInfo::columns().value(file, column);
        const QVariant from =
            stored ? Tab_DeviceInfo::columns().value(*stored, column) : QVariant();
        if (stored && same(from, to)) continue;
        if (stored && to.type() == QVariant::String &&
            CsvOpt::lostInGbk(from.toString(), to.toString()))
            kept << column;
        else
            changes << DeviceImportPlan::Change{column, from, to};
    }
    return changes;
}
}  // namespace

const char* DeviceImportPlan::actionName(Action action) {
    switch (action) {
        case Action::Insert:
            return "insert";
        case Action::Update:
            return "update";
        case Action::Unchanged:
            break;
    }
    return "unchanged";
}

bool DeviceImportPlan::read(const QList<QList<QVariant>>& table) {
    m_imported.clear();
    m_serials.clear();
    m_summary = Summary();
    if (table.isEmpty() || !DeviceListTable::checkHeader(table.first())) return false;
    const int timeColumn =
        static_cast<int>(table.first().indexOf(DeviceExchangeFile::titles().last()));
    for (int r = 1; r < table.size(); ++r) {
        const QList<QVariant>& cells = table.at(r);
        ++m_summary.rows;
        Imported row{r + 1, DeviceListTable::deviceFromRow(cells), false};
        if (row.device.devSN.isEmpty()) {
            ++m_summary.skipped;
            continue;
        }
        if (timeColumn >= 0)
            row.timeKnown = DeviceExchangeFile::parseTime(cells.value(timeColumn).toString(),
                                                          row.device.UpgradeCompletionTime);
        m_imported << row;
        m_serials << row.device.devSN;
    }
    return true;
}

void DeviceImportPlan::plan(const QHash<QString, struDeviceInfo>& stored, bool writeVersions) {
    m_rows.clear();
    const int rows = m_summary.rows;
    const int skipped = m_summary.skipped;
    m_summary = Summary();
    m_summary.rows = rows;
    m_summary.skipped = skipped;
    for (const Imported& imported : m_imported) {
        Row row;
        row.line = imported.line;
        row.devSN = imported.device.devSN;
        const auto found = stored.constFind(row.devSN);
        const struDeviceInfo* current = found == stored.constEnd() ? nullptr : &found.value();
        struDeviceInfo file = imported.device;
        const bool masked = DeviceIdMask::isMasked(file.devId);
        if (masked) file.devId = current ? current->devId : QString();
        row.changes = differences(kWritten, file, current, row.textsKept);
        // A device ID an operator gives is the one its terminal must report: pinned now, or
        // whoever reports that serial number first would win it.
        if (!masked && !file.devId.isEmpty() && (!current || !current->IdentityPinned)) {
            const int pin = Tab_DeviceInfo::columns().indexOf(QStringLiteral("IdentityPinned"));
            row.changes << Change{pin, current ? QVariant(false) : QVariant(), true};
        }
        row.versionChanges = differences(versionColumns(), imported.device, current, row.textsKept);
        // A version is written over a stored one only when the file shows the same completion
        // time: one the file does not show cannot prove the row is fresh.
        bool fresh = true;
        if (current) {
            row.completionTimeKnown = imported.timeKnown;
            row.completionTimeDiffers =
                imported.timeKnown &&
                !sameTime(imported.device.UpgradeCompletionTime, current->UpgradeCompletionTime);
            row.flagged = row.completionTimeDiffers || !row.versionChanges.isEmpty() ||
                          !row.textsKept.isEmpty();
            fresh = imported.timeKnown && !row.completionTimeDiffers;
        }
        row.versionsWritten = writeVersions && !row.versionChanges.isEmpty() && fresh;
        if (row.versionsWritten) row.changes << row.versionChanges;
        if (!current) {
            row.action = Action::Insert;
            ++m_summary.inserted;
        } else if (!row.changes.isEmpty()) {
            row.action = Action::Update;
            ++m_summary.updated;
        } else {
            ++m_summary.unchanged;
        }
        if (row.flagged) ++m_summary.flagged;
        if (writeVersions && !row.versionChanges.isEmpty() && !row.versionsWritten)
            ++m_summary.versionsKept;
        m_rows << row;
    }
}
