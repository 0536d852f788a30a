#include "files/DeviceListWorkbook.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include "files/DeviceListTable.h"
#include "files/FileOperation.h"
#include "tests/files/DeviceSamples.h"
#include "tests/files/FakeWorkbookBackend.h"
#include "tests/support/MessageCapture.h"

namespace {

using Table = QList<QList<QVariant>>;

QList<struDeviceInfo> threeDevices() {
    struDeviceInfo a = sampleDevice("001");
    a.isAutoUpdate = true;
    a.GetRunInfoFile = true;
    struDeviceInfo b = sampleDevice("002");
    b.ConfigCmd = "set apn,cmnet \"quoted\"";
    b.GetLogFile = b.GetIndexFile = true;
    struDeviceInfo c = sampleDevice("003");
    c.ConfigCmd.clear();  // an empty cell in the middle of a row
    c.GetPrintFile = true;
    return {a, b, c};
}

QList<QVariant> titleRow() {
    QList<QVariant> row;
    for (const QString& t : DeviceListTable::titles()) row << t;
    return row;
}

// ---- logic above the engine, with the fake ----

class DeviceListWorkbookFakeTest : public ::testing::Test {
  protected:
    // The import checks that the file exists before the engine opens it.
    QString existingFile(const QString& name) {
        const QString path = dir.filePath(name);
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        return path;
    }
    QTemporaryDir dir;
    std::shared_ptr<FakeWorkbookRecord> record = std::make_shared<FakeWorkbookRecord>();
};

TEST_F(DeviceListWorkbookFakeTest, ExportOfThreeDevicesFillsA1ToP4AndSavesUnderTheGivenName) {
    const QList<struDeviceInfo> devices = threeDevices();
    EXPECT_TRUE(DeviceListWorkbook::write("C:/Exchange/list.xlsx", devices, fakeFactory(record)));
    EXPECT_EQ(record->calls,
              QStringList({"create", "selectSheet 1", "setSheetName sheet1", "writeRange A1:P4",
                           "saveAs C:\\Exchange\\list.xlsx 56", "close"}));
    EXPECT_EQ(record->written, DeviceListTable::toTable(devices));
    EXPECT_EQ(record->written.at(1).at(10), "1");
    EXPECT_EQ(record->written.at(1).at(12), "0");
}

TEST_F(DeviceListWorkbookFakeTest, EachFailedStepGivesItsMessage) {
    const struct {
        const char* name;
        QString fileName;
        void (*setUp)(FakeWorkbookRecord&);
        const char* message;
        QStringList calls;
    } cases[] = {
        {"empty name", "", [](FakeWorkbookRecord&) {}, "[WriteExcelFile] parameter error", {}},
        // Refused before anything starts, so no file of that name is touched.
        {"upper-case suffix",
         "list.XLSX",
         [](FakeWorkbookRecord&) {},
         "[WriteExcelFile] file Suffix error",
         {}},
        {"csv suffix",
         "list.csv",
         [](FakeWorkbookRecord&) {},
         "[WriteExcelFile] file Suffix error",
         {}},
        {"create fails",
         "list.xlsx",
         [](FakeWorkbookRecord& r) { r.createOk = false; },
         "[WriteExcelFile] createExcel fail",
         {"create", "close"}},
        {"no first sheet",
         "list.xls",
         [](FakeWorkbookRecord& r) { r.sheetCount = 0; },
         "[WriteExcelFile] createExcel fail",
         {"create", "selectSheet 1", "close"}},
        {"rename fails",
         "list.xls",
         [](FakeWorkbookRecord& r) { r.setNameOk = false; },
         "[WriteExcelFile] createExcel fail",
         {"create", "selectSheet 1", "setSheetName sheet1", "close"}},
        // Saved and closed anyway: the link never outlives the call.
        {"write fails",
         "list.xlsx",
         [](FakeWorkbookRecord& r) { r.writeOk = false; },
         "[WriteExcelFile] write excel fail",
         {"create", "selectSheet 1", "setSheetName sheet1", "writeRange A1:P2",
          "saveAs list.xlsx 56", "close"}},
        {"save fails",
         "list.xlsx",
         [](FakeWorkbookRecord& r) { r.saveOk = false; },
         "[WriteExcelFile] save excel fail",
         {"create", "selectSheet 1", "setSheetName sheet1", "writeRange A1:P2",
          "saveAs list.xlsx 56", "close"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        record = std::make_shared<FakeWorkbookRecord>();
        c.setUp(*record);
        MessageCapture capture;
        EXPECT_FALSE(
            DeviceListWorkbook::write(c.fileName, {sampleDevice("001")}, fakeFactory(record)));
        EXPECT_TRUE(capture.contains(c.message)) << capture.lines().join('\n').toStdString();
        EXPECT_EQ(record->calls, c.calls);
    }
}

TEST_F(DeviceListWorkbookFakeTest, NoSpreadsheetEngineFailsBothWays) {
    MessageCapture capture;
    EXPECT_FALSE(DeviceListWorkbook::write(dir.filePath("list.xlsx"), {}, noEngineFactory()));
    EXPECT_TRUE(capture.contains("[WriteExcelFile] createExcel fail"));
    QList<struDeviceInfo> out;
    EXPECT_FALSE(DeviceListWorkbook::read(existingFile("in.xlsx"), out, noEngineFactory()));
}

TEST_F(DeviceListWorkbookFakeTest, ImportReadsTheFirstSheetAndAlwaysCloses) {
    const QString path = existingFile("in.xlsx");
    record->used = {
        titleRow(),
        // Numbers and booleans as a spreadsheet holds them: a typed 1 is "1",
        // TRUE is not.
        {"ID-1", "SN1", "T1", "", 13800138000.0, "A", "M", "F", "G", "S", 1.0, "c", true, "1",
         QVariant(), 1},
        // No serial number: dropped.
        {"ID-2", QVariant(), "T1", "", "", "", "", "", "", "", "1", "", "1", "1", "1", "1"}};
    QList<struDeviceInfo> out{sampleDevice("stale")};
    ASSERT_TRUE(DeviceListWorkbook::read(path, out, fakeFactory(record)));
    EXPECT_EQ(record->calls, QStringList({"open " + path, "selectSheet 1", "usedRange", "close"}));
    ASSERT_EQ(out.size(), 1);
    EXPECT_EQ(out.at(0).devSN, "SN1");
    EXPECT_EQ(out.at(0).PhoneNumber, "13800138000");
    EXPECT_TRUE(out.at(0).isAutoUpdate);
    EXPECT_FALSE(out.at(0).GetLogFile);
    EXPECT_TRUE(out.at(0).GetIndexFile);
    EXPECT_FALSE(out.at(0).GetPrintFile);
    EXPECT_TRUE(out.at(0).GetRunInfoFile);
}

TEST_F(DeviceListWorkbookFakeTest, ImportFailures) {
    const QString path = existingFile("in.xlsx");
    QList<QVariant> shortHeader = titleRow();
    shortHeader.removeLast();
    QList<QVariant> renamed = titleRow();
    renamed[0] = "设备id";
    const struct {
        const char* name;
        Table used;
        bool openOk;
        const char* message;
        QStringList calls;
    } cases[] = {
        {"open fails", {}, false, nullptr, {"open " + path, "close"}},
        {"empty used range",
         {},
         true,
         nullptr,
         {"open " + path, "selectSheet 1", "usedRange", "close"}},
        {"short header",
         {shortHeader},
         true,
         "Excel header count error",
         {"open " + path, "selectSheet 1", "usedRange", "close"}},
        {"renamed title",
         {renamed},
         true,
         "Excel header name error",
         {"open " + path, "selectSheet 1", "usedRange", "close"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        record = std::make_shared<FakeWorkbookRecord>();
        record->used = c.used;
        record->openOk = c.openOk;
        MessageCapture capture;
        QList<struDeviceInfo> out;
        EXPECT_FALSE(DeviceListWorkbook::read(path, out, fakeFactory(record)));
        if (c.message) {
            EXPECT_TRUE(capture.contains(c.message));
        }
        EXPECT_EQ(record->calls, c.calls);
    }
}

TEST_F(DeviceListWorkbookFakeTest, ImportRefusesMissingFilesAndOtherSuffixesBeforeOpening) {
    QList<struDeviceInfo> out;
    for (const QString& path : {dir.filePath("missing.xlsx"), existingFile("list.XLSX"),
                                existingFile("list.csv"), existingFile("list.xlsm")}) {
        EXPECT_FALSE(DeviceListWorkbook::read(path, out, fakeFactory(record))) << qPrintable(path);
    }
    EXPECT_EQ(record->enginesMade, 0);
}

TEST(DeviceListWorkbookCellTextTest, CellsReadAsASpreadsheetShowsThem) {
    const struct {
        QVariant cell;
        const char* text;
    } cases[] = {
        {1.0, "1"},      {0.0, "0"},       {-3.0, "-3"},        {13800138000.0, "13800138000"},
        {1.5, "1.5"},    {0.1, "0.1"},     {1e20, "1e+20"},     {7, "7"},
        {true, "TRUE"},  {false, "FALSE"}, {QString("1"), "1"}, {QString(" 1"), " 1"},
        {QVariant(), ""}};
    for (const auto& c : cases) EXPECT_EQ(DeviceListWorkbook::cellText(c.cell), c.text);
}

}  // namespace
