#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>
#include <memory>

#include "files/WorkbookBackend.h"

// One link to a workbook: created or opened, one sheet selected, cells read or written, saved
// and closed. The engine behind it comes from the factory, one per link.
class ExcelBase : public QObject {
    Q_OBJECT
  public:
    explicit ExcelBase(WorkbookBackendFactory factory = defaultWorkbookBackendFactory(),
                       QObject* parent = nullptr);
    ~ExcelBase() override;

    // Starts a link with a new workbook that will be saved as fileName.
    bool Create(const QString& fileName);
    // Starts a link with the workbook in fileName.
    bool Open(const QString& fileName);
    bool SelectSheet(int index);
    bool SetSheetName(const QString& name);
    // The used range of the selected sheet; empty when anything is missing.
    void ReadAll(QList<QList<QVariant>>& table);
    // Writes table from A1 onwards; fails for an empty table.
    bool WriteRange(const QList<QList<QVariant>>& table);
    // Saves under the remembered file name. False without one or when the save fails.
    bool Save();
    void Close();

    QString sheetName() const { return m_sheetName; }

    // "A1:" + last column letters + row count, e.g. "A1:P4" for 4 rows of 16 cells.
    static QString rangeText(int rowCount, int columnCount);
    // 1 → "A", 16 → "P", 27 → "AA".
    static QString columnLetters(int column);

  private:
    bool startLink();

    WorkbookBackendFactory m_factory;
    std::unique_ptr<WorkbookBackend> m_backend;  // the link; null when none is open
    bool m_workbookOpen = false;
    bool m_sheetSelected = false;
    QString m_fileName;
    QString m_sheetName;
};
