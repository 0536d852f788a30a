#pragma once

#include <QList>

#include "files/WorkbookBackend.h"
#include "files/WorkbookSheet.h"

// The workbook engine of a host without a spreadsheet application: the workbook lives in
// memory, is read from .xlsx (zip) or .xls (binary) files by their content, and is saved as an
// Office Open XML workbook whatever the suffix and format code.
class FileWorkbookBackend : public WorkbookBackend {
  public:
    explicit FileWorkbookBackend(const WorkbookReadLimits& limits = WorkbookReadLimits())
        : m_limits(limits) {}

    bool create() override;
    bool open(const QString& fileName) override;
    int sheetCount() const override;
    bool selectSheet(int index) override;
    QString sheetName() const override;
    bool setSheetName(const QString& name) override;
    QList<QList<QVariant>> usedRange() const override;
    bool writeRange(const QString& range, const QList<QList<QVariant>>& table) override;
    bool saveAs(const QString& path, int format) override;
    void close() override;
    // Why the last open() failed, in the operator's words.
    const QString& problem() const { return m_problem; }

  private:
    WorkbookReadLimits m_limits;  // of a workbook opened and of the used range handed out
    QString m_problem;
    bool m_open = false;
    QList<WorkbookSheet> m_sheets;
    int m_current = -1;  // index into m_sheets of the selected sheet
};
