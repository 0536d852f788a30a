#include "files/ImportExcel.h"

#include "files/ExcelBase.h"

ImportExcel::ImportExcel(WorkbookBackendFactory factory, QObject* parent)
    : QObject(parent), m_factory(std::move(factory)) {}

ImportExcel::~ImportExcel() = default;

bool ImportExcel::Open(const QString& fileName) {
    if (!m_excel) m_excel = std::make_unique<ExcelBase>(m_factory);
    if (!m_excel->Open(fileName) || !m_excel->SelectSheet(1)) {
        m_excel->Close();
        return false;
    }
    return true;
}

bool ImportExcel::ReadAll(QList<QList<QVariant>>& table) {
    table.clear();
    if (m_excel) m_excel->ReadAll(table);
    return !table.isEmpty();
}

void ImportExcel::Close() {
    if (m_excel) m_excel->Close();
}
