#include "files/ExportToExcel.h"

#include <QFile>

#include "files/ExcelBase.h"

ExportToExcel::ExportToExcel(WorkbookBackendFactory factory, QObject* parent)
    : QObject(parent), m_factory(std::move(factory)) {}

ExportToExcel::~ExportToExcel() = default;

bool ExportToExcel::NewExcel(const QString& fileName) {
    if (QFile::exists(fileName) && !QFile::remove(fileName)) return false;
    if (!m_excel) m_excel = std::make_unique<ExcelBase>(m_factory);
    if (!m_excel->Create(fileName) || !m_excel->SelectSheet(1) ||
        !m_excel->SetSheetName(tr("sheet1"))) {
        m_excel->Close();
        return false;
    }
    return true;
}

bool ExportToExcel::Write(const QList<QList<QVariant>>& table) {
    return m_excel && m_excel->WriteRange(table);
}

bool ExportToExcel::SaveAndClose() {
    if (!m_excel) return false;
    const bool saved = m_excel->Save();
    m_excel->Close();
    return saved;
}
