#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include "files/CsvLimits.h"
#include "files/UploadDigests.h"
#include "model/struDeviceInfo.h"

// The service's one place for writing and removing files: package blocks from the browser,
// chunks that terminals upload, the device-list import file and the start-up clean-up of the
// exchange directory. Callers compose the paths; every operation reports by its result.
class FileOperation : public QObject {
    Q_OBJECT
  public:
    FileOperation() = default;

  public slots:
    // Replaces fileName with data; creates the last missing directory level.
    bool ImportExcelFile(const QString& fileName, const QByteArray& data);
    // The device list from the first sheet of a workbook ("xls" or "xlsx", case as given).
    bool ReadImportExcel(const QString& fileName, QList<struDeviceInfo>& outDevList);
    // A file that is already gone counts as deleted.
    bool DeleteExcel(const QString& fileName);
    // The device list as a new workbook with one sheet, "sheet1" (see DeviceListWorkbook).
    bool WriteExcelFile(const QString& fileName, QList<struDeviceInfo> devList);
    // One block of a package: the first block (bNewFile) starts the file afresh, the others
    // are appended. Creates the last missing directory level only. Follows no link: neither the
    // file nor its directory may be one.
    bool WriteUpgradePackage(const QString& fileName, const QByteArray& data, bool bNewFile = true);
    // A package upload block by block: the blocks go to a temporary file beside packageFile
    // (see PackageUpload), a block after the first only when that file is still there, and the
    // last one renames it into place, so readers of the package see the old file or the new
    // one, never a mix. CommitUpload also checks the size the upload announced and gives the
    // SHA-256 (hex); a file of another size is removed and the upload must start again.
    bool WriteUploadBlock(const QString& packageFile, const QByteArray& data, bool first);
    bool CommitUpload(const QString& packageFile, qint64 announcedSize, QByteArray& sha256);
    // Removes the temporary files of uploads under the type directories of packageDir that
    // were last written more than maxAgeSecs ago.
    void RemoveStaleUploads(const QString& packageDir, qint64 maxAgeSecs);
    bool DeleteUpgradePackage(const QString& fileName);
    // Appends one chunk of a terminal's file, creating every missing directory level, and
    // records the chunk in the day's data log. An empty chunk is written too: it may close a
    // file, or be the whole of an empty one. bNewFile starts the file afresh, so a transfer
    // never continues what an earlier broken one left.
    bool WriteDevUploadFile(const QString& fileName, const QByteArray& data, bool bNewFile = false);
    // The device list as the 16-column CSV file (see DeviceListCsv).
    bool ReadImportCsv(const QString& fileName, QList<struDeviceInfo>& outDevList);
    // An import: a file beyond the limits is refused.
    bool ReadImportCsv(const QString& fileName, QList<struDeviceInfo>& outDevList,
                       const CsvLimits& limits);
    bool WriteCsvFile(const QString& fileName, QList<struDeviceInfo> devList);
    // Empties folderDir (kept itself) from the leaves upward. Stops once a whole pass makes no
    // progress, so an entry that cannot be removed never keeps it looping; false then.
    bool removeFolderContent(const QString& folderDir);

  private:
    UploadDigests m_digests;  // of the uploads in progress
};
