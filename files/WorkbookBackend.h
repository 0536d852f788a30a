#pragma once

#include <QList>
#include <QString>
#include <QVariant>
#include <functional>
#include <memory>

// What ExcelBase needs from a spreadsheet engine: one workbook at a time, its sheets picked by
// 1-based index, cells read as the used range and written as a range. Every operation reports
// failure by its result; nothing throws.
class WorkbookBackend {
  public:
    virtual ~WorkbookBackend() = default;

    // A new workbook with one sheet.
    virtual bool create() = 0;
    // An existing workbook; the format is the engine's business.
    virtual bool open(const QString& fileName) = 0;
    virtual int sheetCount() const = 0;
    // 1-based, as the sheet tabs are counted.
    virtual bool selectSheet(int index) = 0;
    // Name of the selected sheet ("" without one).
    virtual QString sheetName() const = 0;
    virtual bool setSheetName(const QString& name) = 0;
    // The bounding box of the selected sheet's used cells as rows of cells; empty when the
    // sheet has none or no sheet is selected.
    virtual QList<QList<QVariant>> usedRange() const = 0;
    // Writes table into the range given as text ("A1:P4") of the selected sheet.
    virtual bool writeRange(const QString& range, const QList<QList<QVariant>>& table) = 0;
    // path uses "\" as separator, the way the workbook application takes it; format is the
    // application's file-format code.
    virtual bool saveAs(const QString& path, int format) = 0;
    // Ends the link; the workbook is discarded without saving.
    virtual void close() = 0;
};

// Makes one engine per link; returning null stands for "no spreadsheet engine available".
using WorkbookBackendFactory = std::function<std::unique_ptr<WorkbookBackend>()>;

// The engine of this host: workbook files handled by file-format libraries.
WorkbookBackendFactory defaultWorkbookBackendFactory();
