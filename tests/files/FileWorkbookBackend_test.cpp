#include "files/FileWorkbookBackend.h"

#include <gtest/gtest.h>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>

#include "files/XlsFileReader.h"
#include "files/XlsxFileReader.h"
#include "tests/files/WorkbookTool.h"

namespace {

using Table = QList<QList<QVariant>>;

class FileWorkbookBackendTest : public ::testing::Test {
  protected:
    QString path(const QString& name) const { return dir.filePath(name); }
    QTemporaryDir dir;
    FileWorkbookBackend engine;
};

TEST_F(FileWorkbookBackendTest, SheetNamesFollowTheWorkbookRules) {
    ASSERT_TRUE(engine.create());
    EXPECT_EQ(engine.sheetCount(), 1);
    EXPECT_FALSE(engine.setSheetName("sheet1"));  // nothing selected yet
    EXPECT_FALSE(engine.selectSheet(0));
    EXPECT_FALSE(engine.selectSheet(2));
    ASSERT_TRUE(engine.selectSheet(1));
    EXPECT_EQ(engine.sheetName(), "Sheet1");
    const struct {
        QString name;
        bool ok;
    } cases[] = {{"sheet1", true},
                 {"设备列表", true},
                 {QString(31, 'x'), true},
                 {"", false},
                 {QString(32, 'x'), false},
                 {"a/b", false},
                 {"a\\b", false},
                 {"a[1]", false},
                 {"x:y", false},
                 {"why?", false},
                 {"*", false},
                 {"'quoted'", false}};
    for (const auto& c : cases) {
        EXPECT_EQ(engine.setSheetName(c.name), c.ok) << qPrintable(c.name);
        if (c.ok) {
            EXPECT_EQ(engine.sheetName(), c.name);
        }
    }
}

TEST_F(FileWorkbookBackendTest, UsedRangeIsTheBoundingBoxOfTheWrittenCells) {
    ASSERT_TRUE(engine.create());
    ASSERT_TRUE(engine.selectSheet(1));
    EXPECT_TRUE(engine.usedRange().isEmpty());
    ASSERT_TRUE(engine.writeRange("B2:D3", {{"a", 2.5, true}, {"", QVariant(), "z"}}));
    const Table used = engine.usedRange();
    // Empty texts leave their cells empty; the box starts at the first used cell.
    const Table expected{{"a", 2.5, true}, {QVariant(), QVariant(), "z"}};
    EXPECT_EQ(used, expected);
    EXPECT_FALSE(engine.writeRange("D3:B2", {{"x"}}));
    EXPECT_FALSE(engine.writeRange("garbage", {{"x"}}));
    EXPECT_FALSE(engine.writeRange("A0:B1", {{"x"}}));
    EXPECT_FALSE(engine.writeRange("A1:XFE1", {{"x"}}));
}

TEST_F(FileWorkbookBackendTest, OverlongTextIsRefusedAndLeavesTheSheetAsItWas) {
    ASSERT_TRUE(engine.create());
    ASSERT_TRUE(engine.selectSheet(1));
    ASSERT_TRUE(engine.writeRange("A1:A1", {{"kept"}}));
    EXPECT_FALSE(engine.writeRange("A1:B1", {{"new", QString(32768, 'x')}}));
    EXPECT_EQ(engine.usedRange(), Table({{"kept"}}));
    EXPECT_TRUE(engine.writeRange("A1:A1", {{QString(32767, 'x')}}));
}

TEST_F(FileWorkbookBackendTest, AHugeBoxOfFewCellsIsNotMaterialised) {
    ASSERT_TRUE(engine.create());
    ASSERT_TRUE(engine.selectSheet(1));
    ASSERT_TRUE(engine.writeRange("A1:A1", {{"x"}}));
    ASSERT_TRUE(engine.writeRange("XFD1048576:XFD1048576", {{"y"}}));
    EXPECT_TRUE(engine.usedRange().isEmpty());
}

TEST_F(FileWorkbookBackendTest, SavedWorkbookKeepsNamesAndCellTypes) {
    ASSERT_TRUE(engine.create());
    ASSERT_TRUE(engine.selectSheet(1));
    ASSERT_TRUE(engine.setSheetName("sheet1"));
    const Table cells{{"文本", 1.0, false}, {"a,b", -2.25, true}};
    ASSERT_TRUE(engine.writeRange("A1:C2", cells));
    // The path arrives with the separators the workbook application takes.
    QString windowsPath = path("sub.xlsx");
    windowsPath.replace('/', '\\');
    ASSERT_TRUE(engine.saveAs(windowsPath, 56));
    ASSERT_TRUE(QFile::exists(path("sub.xlsx")));
    engine.close();

    FileWorkbookBackend reader;
    ASSERT_TRUE(reader.open(path("sub.xlsx")));
    ASSERT_EQ(reader.sheetCount(), 1);
    ASSERT_TRUE(reader.selectSheet(1));
    EXPECT_EQ(reader.sheetName(), "sheet1");
    EXPECT_EQ(reader.usedRange(), cells);
}

TEST_F(FileWorkbookBackendTest, SaveIntoAMissingDirectoryFailsAndWritesNothing) {
    ASSERT_TRUE(engine.create());
    EXPECT_FALSE(engine.saveAs(path("missing/list.xlsx"), 56));
    EXPECT_FALSE(QFile::exists(path("missing/list.xlsx")));
    engine.close();
    EXPECT_FALSE(engine.saveAs(path("closed.xlsx"), 56));
}

TEST_F(FileWorkbookBackendTest, BareXmlWorkbookReadsInTabOrderWithInlineStringsAndHoles) {
    // Part names run against the tab order, so reading sheet1.xml blindly would be wrong.
    const QJsonArray firstRows{QJsonArray{}, QJsonArray{QJsonValue(), "x &<y>", QJsonValue(), 1},
                               QJsonArray{QJsonValue(), true, "  z "}};
    const QJsonObject spec{
        {"sheets",
         QJsonArray{QJsonObject{{"name", "first"}, {"rows", firstRows}},
                    QJsonObject{{"name", "second"}, {"rows", QJsonArray{QJsonArray{"other"}}}}}}};
    QByteArray error;
    ASSERT_TRUE(writeWithTool("write-raw", path("raw.xlsx"), QJsonDocument(spec), error))
        << error.toStdString();
    ASSERT_TRUE(engine.open(path("raw.xlsx")));
    ASSERT_EQ(engine.sheetCount(), 2);
    ASSERT_TRUE(engine.selectSheet(1));
    EXPECT_EQ(engine.sheetName(), "first");
    const Table expected{{"x &<y>", QVariant(), 1.0}, {true, "  z ", QVariant()}};
    EXPECT_EQ(engine.usedRange(), expected);
    ASSERT_TRUE(engine.selectSheet(2));
    EXPECT_EQ(engine.usedRange(), Table({{"other"}}));
}

TEST_F(FileWorkbookBackendTest, FormatComesFromTheContentNotTheName) {
    ASSERT_TRUE(QFile::copy(XLS_FIXTURE, path("binary.xlsx")));
    ASSERT_TRUE(engine.open(path("binary.xlsx")));
    EXPECT_EQ(engine.sheetCount(), 2);
    ASSERT_TRUE(engine.selectSheet(2));
    EXPECT_EQ(engine.sheetName(), "other");
    EXPECT_EQ(engine.usedRange(), Table({{"not read"}}));
}

TEST_F(FileWorkbookBackendTest, FilesThatAreNoWorkbookDoNotOpenAndSayWhy) {
    const struct {
        const char* name;
        QByteArray content;
        const char* problem;
    } cases[] = {
        {"empty.xlsx", "", "不是 Excel 工作簿"},
        {"text.xlsx", "设备ID,设备序列号\n", "不是 Excel 工作簿"},
        {"cut-zip.xlsx", QByteArray("PK\x03\x04", 4) + QByteArray(100, '\0'),
         "不是完整的 xlsx 工作簿"},
        {"cut-ole.xls", QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + QByteArray(600, '\0'),
         "xls 工作簿已损坏"}};
    for (const auto& c : cases) {
        QFile file(path(c.name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(c.content);
        file.close();
        EXPECT_FALSE(engine.open(path(c.name))) << c.name;
        EXPECT_TRUE(engine.problem().contains(QString::fromUtf8(c.problem)))
            << c.name << ": " << engine.problem().toStdString();
        EXPECT_FALSE(engine.selectSheet(1));
    }
    EXPECT_FALSE(engine.open(path("missing.xlsx")));
}

TEST_F(FileWorkbookBackendTest, AWorkbookBeyondItsReadLimitsIsRefusedWhole) {
    // Five cells over two sheets, as inline strings.
    const QJsonObject twoSheets{
        {"sheets", QJsonArray{QJsonObject{{"name", "one"}, {"rows", QJsonArray{{"a", "b", "c"}}}},
                              QJsonObject{{"name", "two"}, {"rows", QJsonArray{{"d", "a"}}}}}}};
    QByteArray error;
    ASSERT_TRUE(writeWithTool("write", path("w.xlsx"), QJsonDocument(twoSheets), error))
        << error.toStdString();
    // One sheet of five cells whose texts are four shared strings of one character each.
    ASSERT_TRUE(engine.create());
    ASSERT_TRUE(engine.selectSheet(1));
    ASSERT_TRUE(engine.writeRange("A1:E1", Table{{"a", "b", "c", "d", "a"}}));
    ASSERT_TRUE(engine.saveAs(path("shared.xlsx"), 56));
    engine.close();
    const struct {
        const char* file;
        qint64 cells, strings, text;
        const char* problem;  // empty: read
    } cases[] = {
        {"w.xlsx", 5, 0, 0, ""},
        {"w.xlsx", 4, 0, 0, "工作表“two”：到单元格 A2 时超过导入上限"},
        {"shared.xlsx", 5, 4, 4, ""},
        {"shared.xlsx", 4, 4, 4, "工作表“Sheet1”：到单元格 E1 时超过导入上限"},
        {"shared.xlsx", 5, 3, 4, "共享文本表"},
        {"shared.xlsx", 5, 4, 3, "共享文本表"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.file << " " << c.cells << " " << c.strings << " " << c.text);
        QList<WorkbookSheet> sheets;
        QString problem;
        const QString expected = QString::fromUtf8(c.problem);
        EXPECT_EQ(
            XlsxFileReader::read(path(c.file), sheets, {c.cells, c.strings, c.text}, &problem),
            expected.isEmpty());
        EXPECT_EQ(sheets.isEmpty(), !expected.isEmpty());
        EXPECT_TRUE(expected.isEmpty() ? problem.isEmpty() : problem.startsWith(expected))
            << problem.toStdString();
    }

    // The older format is measured before any cell is loaded.
    QList<WorkbookSheet> sheets;
    ASSERT_TRUE(XlsFileReader::read(XLS_FIXTURE, sheets));
    qint64 cells = 0;
    for (const WorkbookSheet& sheet : sheets) cells += qint64(sheet.cells.size());
    ASSERT_GT(cells, 1);
    EXPECT_FALSE(XlsFileReader::read(
        XLS_FIXTURE, sheets,
        {1, WorkbookLimits::kMaxSharedStrings, WorkbookLimits::kMaxSharedTextLength}));
    EXPECT_FALSE(XlsFileReader::read(
        XLS_FIXTURE, sheets, {WorkbookLimits::kMaxCells, 0, WorkbookLimits::kMaxSharedTextLength}));
}

}  // namespace
