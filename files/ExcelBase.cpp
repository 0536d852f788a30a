#include "files/ExcelBase.h"

#include <QDebug>
#include <algorithm>

#include "files/CellReference.h"

namespace {
// The workbook application's code for the ".xls" workbook format; always passed, whatever the
// suffix, and left to the engine to interpret.
constexpr int kSaveFormat = 56;
}  // namespace

ExcelBase::ExcelBase(WorkbookBackendFactory factory, QObject* parent)
    : QObject(parent), m_factory(std::move(factory)) {}

ExcelBase::~ExcelBase() {
    Close();
}

bool ExcelBase::startLink() {
    Close();
    if (m_factory) m_backend = m_factory();
    return m_backend != nullptr;
}

bool ExcelBase::Create(const QString& fileName) {
    if (!startLink() || !m_backend->create()) return false;
    m_workbookOpen = true;
    m_fileName = fileName;
    return true;
}

bool ExcelBase::Open(const QString& fileName) {
    if (!startLink() || !m_backend->open(fileName)) return false;
    m_workbookOpen = true;
    m_fileName = fileName;
    return true;
}

bool ExcelBase::SelectSheet(int index) {
    if (!m_backend || !m_workbookOpen) return false;
    m_sheetSelected = false;
    if (!m_backend->selectSheet(index)) {
        m_sheetName.clear();
        return false;
    }
    m_sheetSelected = true;
    m_sheetName = m_backend->sheetName();
    return true;
}

bool ExcelBase::SetSheetName(const QString& name) {
    if (!m_backend || !m_sheetSelected) return false;
    if (!m_backend->setSheetName(name)) return false;
    m_sheetName = name;
    return true;
}

void ExcelBase::ReadAll(QList<QList<QVariant>>& table) {
    table.clear();
    if (!m_backend || !m_sheetSelected) return;
    table = m_backend->usedRange();
}

bool ExcelBase::WriteRange(const QList<QList<QVariant>>& table) {
    if (table.isEmpty() || !m_backend || !m_sheetSelected) return false;
    int columns = 0;
    for (const QList<QVariant>& row : table) columns = std::max(columns, int(row.size()));
    if (columns == 0) return false;
    const QString range = rangeText(table.size(), columns);
    qDebug().noquote() << range;
    return m_backend->writeRange(range, table);
}

bool ExcelBase::Save() {
    if (!m_backend || !m_workbookOpen || m_fileName.isEmpty()) return false;
    QString path = m_fileName;
    path.replace(QLatin1Char('/'), QLatin1Char('\\'));
    qDebug().noquote() << path;
    return m_backend->saveAs(path, kSaveFormat);
}

void ExcelBase::Close() {
    if (m_backend) m_backend->close();
    m_backend.reset();
    m_workbookOpen = false;
    m_sheetSelected = false;
    m_fileName.clear();
    m_sheetName.clear();
}

QString ExcelBase::rangeText(int rowCount, int columnCount) {
    return QStringLiteral("A1:") + columnLetters(columnCount) + QString::number(rowCount);
}

QString ExcelBase::columnLetters(int column) {
    return CellReference::columnLetters(column);
}
