#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QSqlQuery>
#include <QString>
#include <QStringList>

#include "db/RecordColumns.h"
#include "model/struDeviceInfo.h"

// Tab_DeviceInfo: one row per terminal, looked up by devSN. Holds no state; every operation
// borrows a pooled connection for its statements.
class Tab_DeviceInfo : public QObject {
    Q_OBJECT
  public:
    // Whether a statement found its row, found none, or could not run (say, the database was
    // busy): a failed lookup is not a missing row.
    enum class RowState { Found, Missing, Failed };

    // The statements that write a whole record, as the bits of the columns they carry: the
    // "WithTime" ones also write UpgradeCompletionTime, Insert (an operator's new row) also
    // IdentityPinned. Report writes only the columns a terminal's report carries, ReportPin those
    // and the pinned identity (devId, IdentityPinned). Updates find their row by devSN.
    enum Write : unsigned {
        kInsert = 1,
        kInsertWithTime = 2,
        kUpdate = 4,
        kUpdateWithTime = 8,
        kReport = 16,
        kReportPin = 32,
    };
    static const RecordColumns<struDeviceInfo>& columns();

    explicit Tab_DeviceInfo(QObject* parent = nullptr) : QObject(parent) {}
    ~Tab_DeviceInfo() override = default;

    bool insertDevice(const struDeviceInfo& device);
    // Inserts a new devSN or updates its row; UpgradeCompletionTime is never written. With pin,
    // a device ID given is pinned at once: whoever reported the serial number first would win
    // it otherwise. A row without one is pinned by its terminal's first report.
    bool saveDevice(const struDeviceInfo& device, bool pin = true);
    bool getAllDevices(QList<struDeviceInfo>& devices);
    // Empty filters are left out; both empty lists every row.
    bool queryDevices(QList<struDeviceInfo>& devices, const QString& devSN,
                      const QString& PhoneNumber);
    // Virtual so that tests of its callers can make it fail. With outcomePending, also whether
    // the terminal has a completed upgrade whose outcome is not judged yet: the report path
    // learns it in the same round trip.
    virtual RowState getDeviceBySN(struDeviceInfo& device, const QString& devSN,
                                   bool* outcomePending = nullptr);
    // getDeviceBySN with outcomePending for many serial numbers in one statement: found holds
    // each one that has a row. False when it could not run.
    struct Found {
        struDeviceInfo device;
        bool outcomePending = false;
    };
    bool getDevicesBySN(const QStringList& serials, QHash<QString, Found>& found);
    bool clearAutoUpdate();
    bool updateDevice(const struDeviceInfo& device);

    // Writes that change only their own columns, so an operator's edit made meanwhile stays.
    // Each is true when it changed a row.
    // The columns a terminal's report carries; with pin also devId, which becomes the pinned one.
    bool refreshFromReport(const struDeviceInfo& report, bool pin);
    // refreshFromReport for many reports in one statement (PostgreSQL), from the JSON array of
    // appendReport's objects bound at its one mark.
    static QString reportStatementFrom(bool pin);
    static void appendReport(QByteArray& array, const struDeviceInfo& report, bool pin);
    bool completeUpgrade(const QString& devSN, qint32 completionTime);  // clears isAutoUpdate
    // An upgrade started at `since` that did not take: the completion time it set goes back to
    // `before`.
    bool revertCompletion(const QString& devSN, qint32 since, qint32 before);
    // Clears ConfigCmd only while it still holds the command that was sent.
    bool clearConfigCmd(const QString& devSN, const QString& sentCommand);
    bool clearFileRequest(const QString& devSN, bool struDeviceInfo::*flag);
    // The serial number's next report pins the device ID it carries.
    RowState releasePin(const QString& devSN);
};
