#include "files/ExcelBase.h"

#include <gtest/gtest.h>

#include "files/ExportToExcel.h"
#include "files/ImportExcel.h"
#include "tests/files/FakeWorkbookBackend.h"
#include "tests/support/MessageCapture.h"

namespace {

using Table = QList<QList<QVariant>>;

Table table(int rows, int columns) {
    Table t;
    for (int r = 0; r < rows; ++r) {
        QList<QVariant> row;
        for (int c = 0; c < columns; ++c) row << QStringLiteral("%1/%2").arg(r).arg(c);
        t << row;
    }
    return t;
}

TEST(ExcelBaseTest, ColumnLettersCountWithoutZero) {
    const struct {
        int column;
        const char* letters;
    } cases[] = {{1, "A"},   {16, "P"},   {26, "Z"},    {27, "AA"},    {52, "AZ"},
                 {53, "BA"}, {702, "ZZ"}, {703, "AAA"}, {16384, "XFD"}};
    for (const auto& c : cases) EXPECT_EQ(ExcelBase::columnLetters(c.column), c.letters);
}

TEST(ExcelBaseTest, WriteRangeNamesTheLastColumnAndRowCount) {
    const struct {
        Table cells;
        const char* range;
    } cases[] = {{table(4, 16), "A1:P4"},
                 {table(1, 16), "A1:P1"},
                 {table(1, 1), "A1:A1"},
                 {table(101, 28), "A1:AB101"},
                 // The widest row decides, so no cell falls outside the range.
                 {Table{{1}, {1, 2, 3}}, "A1:C2"}};
    for (const auto& c : cases) {
        auto record = std::make_shared<FakeWorkbookRecord>();
        ExcelBase excel(fakeFactory(record));
        ASSERT_TRUE(excel.Create("a.xlsx"));
        ASSERT_TRUE(excel.SelectSheet(1));
        MessageCapture capture;
        EXPECT_TRUE(excel.WriteRange(c.cells));
        EXPECT_EQ(record->calls.last(), QStringLiteral("writeRange ") + c.range);
        EXPECT_TRUE(capture.contains(c.range));
        EXPECT_EQ(record->written, c.cells);
    }
}

TEST(ExcelBaseTest, StepsWithoutTheirPrerequisiteFailWithoutReachingTheEngine) {
    auto record = std::make_shared<FakeWorkbookRecord>();
    ExcelBase excel(fakeFactory(record));
    Table read{{1}};
    EXPECT_FALSE(excel.SelectSheet(1));
    EXPECT_FALSE(excel.SetSheetName("x"));
    EXPECT_FALSE(excel.WriteRange(table(2, 2)));
    EXPECT_FALSE(excel.Save());
    excel.ReadAll(read);
    EXPECT_TRUE(read.isEmpty());
    EXPECT_EQ(record->enginesMade, 0);

    ASSERT_TRUE(excel.Create("a.xlsx"));
    EXPECT_FALSE(excel.SetSheetName("x"));        // no sheet selected yet
    EXPECT_FALSE(excel.WriteRange(table(2, 2)));  // likewise
    ASSERT_TRUE(excel.SelectSheet(1));
    EXPECT_FALSE(excel.WriteRange({}));
    EXPECT_EQ(record->calls, QStringList({"create", "selectSheet 1"}));
}

TEST(ExcelBaseTest, SelectSheetKeepsTheNameAndForgetsItOnFailure) {
    auto record = std::make_shared<FakeWorkbookRecord>();
    ExcelBase excel(fakeFactory(record));
    ASSERT_TRUE(excel.Open("in.xlsx"));
    ASSERT_TRUE(excel.SelectSheet(1));
    EXPECT_EQ(excel.sheetName(), "Sheet1");
    EXPECT_TRUE(excel.SetSheetName("sheet1"));
    EXPECT_EQ(excel.sheetName(), "sheet1");
    EXPECT_FALSE(excel.SelectSheet(2));
    EXPECT_EQ(excel.sheetName(), "");
    Table read{{1}};
    excel.ReadAll(read);  // the failed selection left no sheet to read
    EXPECT_TRUE(read.isEmpty());
}

TEST(ExcelBaseTest, ANewLinkEndsTheEarlierOneAndCloseForgetsTheFile) {
    auto record = std::make_shared<FakeWorkbookRecord>();
    ExcelBase excel(fakeFactory(record));
    ASSERT_TRUE(excel.Create("first.xlsx"));
    ASSERT_TRUE(excel.Open("second.xlsx"));
    EXPECT_EQ(record->calls, QStringList({"create", "close", "open second.xlsx"}));
    EXPECT_EQ(record->enginesMade, 2);
    excel.Close();
    EXPECT_FALSE(excel.Save());  // nothing remembered
    EXPECT_EQ(record->calls.last(), "close");
}

TEST(ExcelBaseTest, SaveTurnsSlashesIntoBackslashesAndAsksForFormat56) {
    auto record = std::make_shared<FakeWorkbookRecord>();
    ExcelBase excel(fakeFactory(record));
    ASSERT_TRUE(excel.Create("C:/exchange/sub/list.xlsx"));
    EXPECT_TRUE(excel.Save());
    EXPECT_EQ(record->calls.last(), "saveAs C:\\exchange\\sub\\list.xlsx 56");
    record->saveOk = false;
    EXPECT_FALSE(excel.Save());
}

TEST(ExportToExcelTest, NewExcelNamesTheFirstSheetAndClosesOnEveryFailure) {
    const struct {
        const char* name;
        void (*setUp)(FakeWorkbookRecord&);
        bool ok;
        QStringList calls;
    } cases[] = {
        {"all steps",
         [](FakeWorkbookRecord&) {},
         true,
         {"create", "selectSheet 1", "setSheetName sheet1"}},
        {"create fails",
         [](FakeWorkbookRecord& r) { r.createOk = false; },
         false,
         {"create", "close"}},
        {"no sheet",
         [](FakeWorkbookRecord& r) { r.sheetCount = 0; },
         false,
         {"create", "selectSheet 1", "close"}},
        {"rename fails",
         [](FakeWorkbookRecord& r) { r.setNameOk = false; },
         false,
         {"create", "selectSheet 1", "setSheetName sheet1", "close"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto record = std::make_shared<FakeWorkbookRecord>();
        c.setUp(*record);
        ExportToExcel exporter(fakeFactory(record));
        EXPECT_EQ(exporter.NewExcel("out.xlsx"), c.ok);
        EXPECT_EQ(record->calls, c.calls);
    }
}

TEST(ExportToExcelTest, WriteAndSaveWithoutALinkFail) {
    auto record = std::make_shared<FakeWorkbookRecord>();
    ExportToExcel exporter(fakeFactory(record));
    EXPECT_FALSE(exporter.Write(table(1, 1)));
    EXPECT_FALSE(exporter.SaveAndClose());
    EXPECT_TRUE(record->calls.isEmpty());

    ExportToExcel noEngine(noEngineFactory());
    EXPECT_FALSE(noEngine.NewExcel("out.xlsx"));
}

TEST(ImportExcelTest, OpenSelectsTheFirstSheetAndClosesOnFailure) {
    const struct {
        const char* name;
        void (*setUp)(FakeWorkbookRecord&);
        bool ok;
        QStringList calls;
    } cases[] = {
        {"opens", [](FakeWorkbookRecord&) {}, true, {"open in.xls", "selectSheet 1"}},
        {"open fails",
         [](FakeWorkbookRecord& r) { r.openOk = false; },
         false,
         {"open in.xls", "close"}},
        {"no sheet",
         [](FakeWorkbookRecord& r) { r.sheetCount = 0; },
         false,
         {"open in.xls", "selectSheet 1", "close"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto record = std::make_shared<FakeWorkbookRecord>();
        c.setUp(*record);
        ImportExcel importer(fakeFactory(record));
        EXPECT_EQ(importer.Open("in.xls"), c.ok);
        EXPECT_EQ(record->calls, c.calls);
    }
}

TEST(ImportExcelTest, ReadAllIsTrueOnlyWithRows) {
    auto record = std::make_shared<FakeWorkbookRecord>();
    ImportExcel importer(fakeFactory(record));
    ASSERT_TRUE(importer.Open("in.xlsx"));
    Table read;
    EXPECT_FALSE(importer.ReadAll(read));
    record->used = table(2, 3);
    EXPECT_TRUE(importer.ReadAll(read));
    EXPECT_EQ(read, record->used);
    importer.Close();
    EXPECT_FALSE(importer.ReadAll(read));
    EXPECT_TRUE(read.isEmpty());
}

}  // namespace
