#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>
#include <memory>

#include "files/WorkbookBackend.h"

class ExcelBase;

// Opens a workbook and reads the used cells of its first sheet.
class ImportExcel : public QObject {
    Q_OBJECT
  public:
    explicit ImportExcel(WorkbookBackendFactory factory = defaultWorkbookBackendFactory(),
                         QObject* parent = nullptr);
    ~ImportExcel() override;

    // Opens fileName and selects its first sheet.
    bool Open(const QString& fileName);
    // True when the used range has at least one row.
    bool ReadAll(QList<QList<QVariant>>& table);
    void Close();

  private:
    WorkbookBackendFactory m_factory;
    std::unique_ptr<ExcelBase> m_excel;  // made on first use
};
