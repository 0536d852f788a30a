#include "files/XlsxFileReader.h"

#include <unzip.h>

#include <functional>

#include <QDir>
#include <QFile>
#include <QHash>
#include <QStringList>
#include <QXmlStreamReader>

#include "files/CellReference.h"
#include "files/OoxmlText.h"
#include "files/ZipEntryDevice.h"

namespace XlsxFileReader {

namespace {

// The longest stretch of a part without a '<': a cell's text is at most kMaxTextLength
// characters, four bytes each at most, and the tag around it is short.
constexpr qint64 kMaxTokenBytes = 4 * WorkbookLimits::kMaxTextLength + 4096;

// Closes the archive on every path out.
class ZipArchive {
  public:
    explicit ZipArchive(const QString& fileName) : m_zip(unzOpen(QFile::encodeName(fileName))) {}
    ~ZipArchive() {
        if (m_zip) unzClose(m_zip);
    }
    ZipArchive(const ZipArchive&) = delete;
    ZipArchive& operator=(const ZipArchive&) = delete;

    bool isOpen() const { return m_zip != nullptr; }

    // Parses a part as it is inflated, never holding more of it than the parser keeps. Part
    // names are compared without case, as the package format wants. False when the part is
    // missing (found false), or it or its parse fails (found true).
    bool parsePart(const QString& name, qint64 cap,
                   const std::function<bool(QXmlStreamReader&)>& parse, bool& found) {
        found = unzLocateFile(m_zip, name.toUtf8().constData(), 2) == UNZ_OK;
        if (!found) return false;
        ZipEntryDevice entry(m_zip, cap, kMaxTokenBytes);
        if (!entry.openEntry()) return false;
        QXmlStreamReader xml(&entry);
        const bool parsed = parse(xml);
        // A parse may stop early on its own limits: what it read is all that is needed then.
        return entry.finish() && parsed;
    }

  private:
    unzFile m_zip;
};

// Workbook parts carry no document type declaration; refusing one keeps entity expansion out.
bool rejectsDtd(QXmlStreamReader& xml) {
    if (xml.tokenType() == QXmlStreamReader::DTD) {
        xml.raiseError(QStringLiteral("DTD not allowed"));
        return true;
    }
    return false;
}

// Text of a string item (<si> or <is>) positioned at its start: the <t> texts of its runs,
// without the phonetic guide (<rPh>) that East Asian editors add. A text longer than a cell
// may hold is an error.
QString readStringItem(QXmlStreamReader& xml) {
    QString text;
    const QString element = xml.name().toString();
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isEndElement() && xml.name() == element) break;
        if (!xml.isStartElement()) continue;
        if (xml.name() == QLatin1String("rPh")) {
            xml.skipCurrentElement();
        } else if (xml.name() == QLatin1String("t")) {
            text +=
                OoxmlText::unescape(xml.readElementText(QXmlStreamReader::IncludeChildElements));
            if (text.size() > WorkbookLimits::kMaxTextLength) {
                xml.raiseError(QStringLiteral("text too long"));
                break;
            }
        }
    }
    return text;
}

bool readSharedStrings(QXmlStreamReader& xml, const WorkbookReadLimits& limits,
                       QStringList& strings) {
    qint64 textLength = 0;
    while (!xml.atEnd()) {
        xml.readNext();
        if (rejectsDtd(xml)) break;
        if (!xml.isStartElement() || xml.name() != QLatin1String("si")) continue;
        if (strings.size() >= limits.sharedStrings) return false;
        strings << readStringItem(xml);
        textLength += strings.last().size();
        if (textLength > limits.sharedTextLength) return false;
    }
    return !xml.hasError();
}

struct SheetEntry {
    QString name;
    QString relationId;
};

bool readWorkbookSheets(QXmlStreamReader& xml, QList<SheetEntry>& entries) {
    while (!xml.atEnd()) {
        xml.readNext();
        if (rejectsDtd(xml)) break;
        if (!xml.isStartElement() || xml.name() != QLatin1String("sheet")) continue;
        SheetEntry entry;
        for (const QXmlStreamAttribute& attribute : xml.attributes()) {
            if (attribute.name() == QLatin1String("name") && attribute.namespaceUri().isEmpty())
                entry.name = attribute.value().toString();
            // r:id, whichever prefix and relationship namespace (transitional or strict).
            else if (attribute.name() == QLatin1String("id") && !attribute.namespaceUri().isEmpty())
                entry.relationId = attribute.value().toString();
        }
        entries << entry;
    }
    return !xml.hasError();
}

// Relationship id → part name inside the archive, for targets relative to xl/.
bool readRelationships(QXmlStreamReader& xml, QHash<QString, QString>& targets) {
    while (!xml.atEnd()) {
        xml.readNext();
        if (rejectsDtd(xml)) break;
        if (!xml.isStartElement() || xml.name() != QLatin1String("Relationship")) continue;
        const QXmlStreamAttributes attributes = xml.attributes();
        const QString target = attributes.value(QLatin1String("Target")).toString();
        const QString part = target.startsWith(QLatin1Char('/'))
                                 ? target.mid(1)
                                 : QDir::cleanPath(QStringLiteral("xl/") + target);
        targets.insert(attributes.value(QLatin1String("Id")).toString(), part);
    }
    return !xml.hasError();
}

bool toValue(const QString& type, const QString& raw, const QString& inlineText,
             const QStringList& sharedStrings, QVariant& value) {
    if (type == QLatin1String("s")) {
        bool ok = false;
        const int index = raw.toInt(&ok);
        if (!ok || index < 0 || index >= sharedStrings.size()) return false;
        value = sharedStrings.at(index);
    } else if (type == QLatin1String("inlineStr")) {
        value = inlineText;
    } else if (type == QLatin1String("b")) {
        value = raw.trimmed() == QLatin1String("1");
    } else if (type == QLatin1String("str") || type == QLatin1String("e") ||
               type == QLatin1String("d")) {
        value = raw;
    } else {
        bool ok = false;
        const double number = raw.toDouble(&ok);
        if (!ok) return false;
        value = number;
    }
    return true;
}

// cellsLeft: what the workbook's earlier sheets left of its cell limit. problem: where it
// stopped, for the operator.
bool readSheetCells(QXmlStreamReader& xml, const QStringList& sharedStrings,
                    const WorkbookReadLimits& limits, WorkbookSheet& sheet, qint64& cellsLeft,
                    QString& problem) {
    const int rows = qMin(limits.rows, WorkbookLimits::kMaxRows);
    const int columns = qMin(limits.columns, WorkbookLimits::kMaxColumns);
    int row = -1;
    int column = -1;
    while (!xml.atEnd()) {
        xml.readNext();
        if (rejectsDtd(xml)) break;
        if (!xml.isStartElement()) continue;
        if (xml.name() == QLatin1String("row")) {
            // Rows and cells may leave out their references; they then follow the previous.
            const QStringRef r = xml.attributes().value(QLatin1String("r"));
            bool ok = true;
            row = r.isEmpty() ? row + 1 : r.toInt(&ok) - 1;
            if (!ok || row < 0) {
                problem = QStringLiteral("行号“%1”无效").arg(r.toString());
                return false;
            }
            if (row >= rows) {
                problem = QStringLiteral("第 %1 行超过导入上限（ImportMaxRows，共 %2 行含标题行）")
                              .arg(row + 1)
                              .arg(rows);
                return false;
            }
            column = -1;
            continue;
        }
        if (xml.name() != QLatin1String("c")) continue;

        const QXmlStreamAttributes attributes = xml.attributes();
        const QString ref = attributes.value(QLatin1String("r")).toString();
        if (ref.isEmpty() ? row < 0 : !CellReference::parse(ref, row, column)) {
            problem = QStringLiteral("单元格引用“%1”无效").arg(ref);
            return false;
        }
        if (ref.isEmpty()) ++column;
        if (row >= rows || column >= columns) {
            problem = QStringLiteral("单元格 %1 超出导入上限（ImportMaxRows、ImportMaxCells）")
                          .arg(CellReference::name(row, column));
            return false;
        }
        const QString type = attributes.value(QLatin1String("t")).toString();
        QString raw;
        QString inlineText;
        bool hasValue = false;
        while (!xml.atEnd()) {
            xml.readNext();
            if (xml.isEndElement() && xml.name() == QLatin1String("c")) break;
            if (!xml.isStartElement()) continue;
            if (xml.name() == QLatin1String("v")) {
                raw = xml.readElementText();
                hasValue = true;
            } else if (xml.name() == QLatin1String("is")) {
                inlineText = readStringItem(xml);
                hasValue = true;
            } else {
                xml.skipCurrentElement();  // formula, extensions
            }
        }
        if (!hasValue) continue;  // a formatted but empty cell
        QVariant value;
        if (!toValue(type, raw, inlineText, sharedStrings, value)) {
            problem = QStringLiteral("单元格 %1 的值“%2”无法读取")
                          .arg(CellReference::name(row, column), raw.left(40));
            return false;
        }
        const size_t before = sheet.cells.size();
        sheet.cells[{row, column}] = value;
        if (sheet.cells.size() > before && --cellsLeft < 0) {
            problem = QStringLiteral("到单元格 %1 时超过导入上限（ImportMaxCells）")
                          .arg(CellReference::name(row, column));
            return false;
        }
    }
    if (xml.hasError())
        problem =
            QStringLiteral("第 %1 行附近的 XML 无法解析（%2）").arg(row + 1).arg(xml.errorString());
    return !xml.hasError();
}

}  // namespace

bool read(const QString& fileName, QList<WorkbookSheet>& sheets, const WorkbookReadLimits& limits,
          QString* problem) {
    QString unused;
    QString& why = problem ? *problem : unused;
    why.clear();
    sheets.clear();
    ZipArchive zip(fileName);
    if (!zip.isOpen()) {
        why = QStringLiteral(
            "文件不是完整的 xlsx 工作簿（无法作为 zip 打开，可能已损坏或未下载完整）");
        return false;
    }

    const qint64 cap = limits.partBytes;
    bool found = false;
    QStringList sharedStrings;
    if (!zip.parsePart(
            QStringLiteral("xl/sharedStrings.xml"), cap,
            [&](QXmlStreamReader& xml) { return readSharedStrings(xml, limits, sharedStrings); },
            found) &&
        found) {
        // A workbook without shared strings is fine, a broken table is not.
        why = QStringLiteral("共享文本表 xl/sharedStrings.xml 无法读取或超过导入上限");
        return false;
    }

    QList<SheetEntry> entries;
    QHash<QString, QString> targets;
    for (const QString& part :
         {QStringLiteral("xl/workbook.xml"), QStringLiteral("xl/_rels/workbook.xml.rels")}) {
        const bool parsed = zip.parsePart(
            part, cap,
            [&](QXmlStreamReader& xml) {
                return part.endsWith(QLatin1String(".rels")) ? readRelationships(xml, targets)
                                                             : readWorkbookSheets(xml, entries);
            },
            found);
        if (!parsed) {
            why = found ? QStringLiteral("工作簿部件 %1 无法解析").arg(part)
                        : QStringLiteral("缺少工作簿部件 %1，文件不是 Excel 工作簿").arg(part);
            return false;
        }
    }

    QList<WorkbookSheet> result;
    qint64 cellsLeft = qMin(limits.cells, WorkbookLimits::kMaxCells);
    for (const SheetEntry& entry : entries) {
        WorkbookSheet sheet;
        sheet.name = entry.name;
        const QString part = targets.value(entry.relationId);
        QString where;
        if (part.isEmpty() || !zip.parsePart(
                                  part, cap,
                                  [&](QXmlStreamReader& xml) {
                                      return readSheetCells(xml, sharedStrings, limits, sheet,
                                                            cellsLeft, where);
                                  },
                                  found)) {
            if (where.isEmpty())
                where = part.isEmpty() || !found ? QStringLiteral("文件中缺少这张表")
                                                 : QStringLiteral("表的内容无法读取或超过导入上限");
            why = QStringLiteral("工作表“%1”：%2").arg(entry.name, where);
            return false;
        }
        result << sheet;
    }
    sheets = result;
    return true;
}

}  // namespace XlsxFileReader
