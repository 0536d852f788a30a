#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>
#include <memory>

#include "files/WorkbookBackend.h"

class ExcelBase;

// Creates a new workbook whose first sheet is named "sheet1", fills it and saves it.
class ExportToExcel : public QObject {
    Q_OBJECT
  public:
    explicit ExportToExcel(WorkbookBackendFactory factory = defaultWorkbookBackendFactory(),
                           QObject* parent = nullptr);
    ~ExportToExcel() override;

    // Removes an existing fileName first (fails when it cannot), then opens the link.
    bool NewExcel(const QString& fileName);
    bool Write(const QList<QList<QVariant>>& table);
    // Saves under the name given to NewExcel and ends the link; false when the save failed.
    bool SaveAndClose();

  private:
    WorkbookBackendFactory m_factory;
    std::unique_ptr<ExcelBase> m_excel;  // made on first use
};
