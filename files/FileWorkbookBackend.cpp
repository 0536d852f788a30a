#include "files/FileWorkbookBackend.h"

#include <QFile>
#include <algorithm>
#include <limits>

#include "files/CellReference.h"
#include "files/WorkbookFileWriter.h"
#include "files/XlsFileReader.h"
#include "files/XlsxFileReader.h"

WorkbookBackendFactory defaultWorkbookBackendFactory() {
    return [] { return std::make_unique<FileWorkbookBackend>(); };
}

namespace {

// The two workbook formats start differently: a zip archive, or a compound document.
const QByteArray kZipMagic("PK\x03\x04", 4);
const QByteArray kCompoundMagic("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);

bool isText(const QVariant& value) {
    return static_cast<QMetaType::Type>(value.type()) == QMetaType::QString;
}

}  // namespace

bool FileWorkbookBackend::create() {
    close();
    WorkbookSheet sheet;
    sheet.name = QStringLiteral("Sheet1");
    m_sheets << sheet;
    m_open = true;
    return true;
}

bool FileWorkbookBackend::open(const QString& fileName) {
    close();
    m_problem.clear();
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        m_problem = QStringLiteral("文件无法打开");
        return false;
    }
    const QByteArray head = file.read(8);
    file.close();
    QList<WorkbookSheet> sheets;
    bool ok = false;
    if (head.startsWith(kZipMagic)) {
        ok = XlsxFileReader::read(fileName, sheets, m_limits, &m_problem);
    } else if (head.startsWith(kCompoundMagic)) {
        ok = XlsFileReader::read(fileName, sheets, m_limits);
        if (!ok)
            m_problem =
                QStringLiteral("xls 工作簿已损坏或超过导入上限（ImportMaxRows、ImportMaxCells）");
    } else {
        m_problem = QStringLiteral("文件内容不是 Excel 工作簿（另存为 .xlsx 或 CSV 后再导入）");
    }
    if (!ok) return false;
    m_sheets = sheets;
    m_open = true;
    return true;
}

int FileWorkbookBackend::sheetCount() const {
    return m_sheets.size();
}

bool FileWorkbookBackend::selectSheet(int index) {
    if (!m_open || index < 1 || index > m_sheets.size()) {
        m_current = -1;
        return false;
    }
    m_current = index - 1;
    return true;
}

QString FileWorkbookBackend::sheetName() const {
    return m_current < 0 ? QString() : m_sheets.at(m_current).name;
}

bool FileWorkbookBackend::setSheetName(const QString& name) {
    if (m_current < 0) return false;
    // The rules the workbook format sets for a sheet name.
    static const QString kForbidden = QStringLiteral("[]:*?/\\");
    if (name.isEmpty() || name.size() > 31 || name.startsWith(QLatin1Char('\'')) ||
        name.endsWith(QLatin1Char('\'')))
        return false;
    for (const QChar ch : name)
        if (kForbidden.contains(ch)) return false;
    for (int i = 0; i < m_sheets.size(); ++i)
        if (i != m_current && m_sheets.at(i).name.compare(name, Qt::CaseInsensitive) == 0)
            return false;
    m_sheets[m_current].name = name;
    return true;
}

QList<QList<QVariant>> FileWorkbookBackend::usedRange() const {
    if (m_current < 0) return {};
    const auto& cells = m_sheets.at(m_current).cells;
    if (cells.empty()) return {};
    int firstRow = std::numeric_limits<int>::max(), lastRow = -1;
    int firstColumn = std::numeric_limits<int>::max(), lastColumn = -1;
    for (const auto& cell : cells) {
        firstRow = std::min(firstRow, cell.first.first);
        lastRow = std::max(lastRow, cell.first.first);
        firstColumn = std::min(firstColumn, cell.first.second);
        lastColumn = std::max(lastColumn, cell.first.second);
    }
    const int rows = lastRow - firstRow + 1;
    const int columns = lastColumn - firstColumn + 1;
    // Two cells far apart would span a box far larger than the cells themselves.
    if (qint64(rows) * columns > qMin(m_limits.cells, WorkbookLimits::kMaxCells)) return {};

    QList<QList<QVariant>> table;
    table.reserve(rows);
    QList<QVariant> emptyRow;
    emptyRow.reserve(columns);
    for (int c = 0; c < columns; ++c) emptyRow << QVariant();
    for (int r = 0; r < rows; ++r) table << emptyRow;
    for (const auto& cell : cells)
        table[cell.first.first - firstRow][cell.first.second - firstColumn] = cell.second;
    return table;
}

bool FileWorkbookBackend::writeRange(const QString& range, const QList<QList<QVariant>>& table) {
    if (m_current < 0) return false;
    int firstRow = 0, firstColumn = 0, lastRow = 0, lastColumn = 0;
    if (!CellReference::parseRange(range, firstRow, firstColumn, lastRow, lastColumn)) return false;
    // Checked before any cell changes, so a refused write leaves the sheet as it was.
    for (const QList<QVariant>& row : table)
        for (const QVariant& value : row)
            if (isText(value) && value.toString().size() > WorkbookLimits::kMaxTextLength)
                return false;

    auto& cells = m_sheets[m_current].cells;
    const int rows = std::min(lastRow - firstRow + 1, int(table.size()));
    for (int r = 0; r < rows; ++r) {
        const QList<QVariant>& row = table.at(r);
        const int columns = std::min(lastColumn - firstColumn + 1, int(row.size()));
        for (int c = 0; c < columns; ++c) {
            const QVariant& value = row.at(c);
            const std::pair<int, int> key{firstRow + r, firstColumn + c};
            // An empty text leaves the cell empty, as typing nothing into it would.
            if (value.isNull() || (isText(value) && value.toString().isEmpty()))
                cells.erase(key);
            else
                cells[key] = value;
        }
    }
    return true;
}

bool FileWorkbookBackend::saveAs(const QString& path, int format) {
    // Only the Office Open XML format can be written here; the code asked for is not honoured.
    Q_UNUSED(format);
    if (!m_open) return false;
    QString fileName = path;
    fileName.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return WorkbookFileWriter::write(fileName, m_sheets);
}

void FileWorkbookBackend::close() {
    m_open = false;
    m_sheets.clear();
    m_current = -1;
}
