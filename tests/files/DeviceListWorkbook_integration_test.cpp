// The workbook slots of the file store on real files, checked against an independent reader and
// writer (openpyxl) and a binary .xls fixture.
#include <gtest/gtest.h>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include "files/DeviceListTable.h"
#include "files/FileOperation.h"
#include "tests/files/DeviceSamples.h"
#include "tests/files/WorkbookTool.h"
#include "tests/support/MessageCapture.h"

namespace {

using Table = QList<QList<QVariant>>;

QList<struDeviceInfo> threeDevices() {
    struDeviceInfo a = sampleDevice("001");
    a.isAutoUpdate = true;
    a.GetRunInfoFile = true;
    struDeviceInfo b = sampleDevice("002");
    b.ConfigCmd = "set apn,cmnet \"quoted\" <x> & y";
    b.GetLogFile = b.GetIndexFile = true;
    struDeviceInfo c = sampleDevice("003");
    c.ConfigCmd.clear();
    c.GetPrintFile = true;
    return {a, b, c};
}

// The sixteen exchanged columns of both lists, compared as the cells they make.
void expectSameDevices(const QList<struDeviceInfo>& actual, const QList<struDeviceInfo>& expected) {
    EXPECT_EQ(DeviceListTable::toTable(actual), DeviceListTable::toTable(expected));
}

QJsonArray titleArray() {
    QJsonArray row;
    for (const QString& t : DeviceListTable::titles()) row << t;
    return row;
}

QJsonDocument workbookSpec(const QJsonArray& sheets) {
    return QJsonDocument(QJsonObject{{"sheets", sheets}});
}

QJsonObject sheetSpec(const QString& name, const QJsonArray& rows) {
    return QJsonObject{{"name", name}, {"rows", rows}};
}

class ExcelSlotsTest : public ::testing::Test {
  protected:
    QString path(const QString& name) const { return dir.filePath(name); }
    void writeWorkbook(const char* mode, const QString& name, const QJsonArray& sheets) {
        QByteArray error;
        ASSERT_TRUE(writeWithTool(mode, path(name), workbookSpec(sheets), error))
            << error.toStdString();
    }
    QTemporaryDir dir;
    FileOperation store;
    FileOperation* files = &store;
};

TEST_F(ExcelSlotsTest, ExportReadsBackEqualWithOurReaderAndAnIndependentOne) {
    const QList<struDeviceInfo> devices = threeDevices();
    MessageCapture capture;
    ASSERT_TRUE(files->WriteExcelFile(path("list.xlsx"), devices));
    EXPECT_TRUE(capture.contains("A1:P4"));

    QList<struDeviceInfo> back;
    ASSERT_TRUE(files->ReadImportExcel(path("list.xlsx"), back));
    expectSameDevices(back, devices);

    QByteArray output;
    ASSERT_TRUE(runWorkbookTool({"read", path("list.xlsx")}, {}, output)) << output.toStdString();
    const QJsonObject read = QJsonDocument::fromJson(output).object();
    EXPECT_EQ(read.value("sheets").toArray().first().toString(), "sheet1");
    const QJsonArray rows = read.value("rows").toArray();
    const Table expected = DeviceListTable::toTable(devices);
    ASSERT_EQ(rows.size(), expected.size());
    for (int r = 0; r < expected.size(); ++r) {
        const QJsonArray row = rows.at(r).toArray();
        ASSERT_EQ(row.size(), 16) << "row " << r;
        for (int c = 0; c < 16; ++c) {
            // Cells are written as texts, flags included; an empty text is an empty cell.
            const QJsonValue cell = row.at(c);
            EXPECT_TRUE(cell.isString() || cell.isNull()) << r << "," << c;
            EXPECT_EQ(cell.toString(), expected.at(r).at(c).toString()) << r << "," << c;
        }
    }
}

TEST_F(ExcelSlotsTest, AnXlsNameIsKeptAndReadsBack) {
    const QList<struDeviceInfo> devices = threeDevices();
    ASSERT_TRUE(files->WriteExcelFile(path("list.xls"), devices));
    EXPECT_TRUE(QFile::exists(path("list.xls")));
    QList<struDeviceInfo> back;
    ASSERT_TRUE(files->ReadImportExcel(path("list.xls"), back));
    expectSameDevices(back, devices);
}

TEST_F(ExcelSlotsTest, ExportReplacesAnEarlierWorkbook) {
    ASSERT_TRUE(files->WriteExcelFile(path("list.xlsx"), threeDevices()));
    ASSERT_TRUE(files->WriteExcelFile(path("list.xlsx"), {sampleDevice("009")}));
    QList<struDeviceInfo> back;
    ASSERT_TRUE(files->ReadImportExcel(path("list.xlsx"), back));
    expectSameDevices(back, {sampleDevice("009")});

    // An empty list still writes the title row, which imports as no device.
    ASSERT_TRUE(files->WriteExcelFile(path("list.xlsx"), {}));
    ASSERT_TRUE(files->ReadImportExcel(path("list.xlsx"), back));
    EXPECT_TRUE(back.isEmpty());
}

TEST_F(ExcelSlotsTest, ExportIntoAMissingDirectoryIsAFailure) {
    MessageCapture capture;
    EXPECT_FALSE(files->WriteExcelFile(path("missing/list.xlsx"), threeDevices()));
    EXPECT_TRUE(capture.contains("[WriteExcelFile] save excel fail"));
    EXPECT_FALSE(QFile::exists(path("missing/list.xlsx")));
}

TEST_F(ExcelSlotsTest, WorkbookEditedElsewhereImports) {
    // openpyxl keeps texts as shared strings; the operator typed one flag as the number 1,
    // the phone number as a number, and one flag as TRUE.
    QJsonArray typed{"ID-1", "SN1", "T1", "京B1", 13800138000.0, "A", "M", "F",
                     "G",    "S",   1,    "c,d",  true,          "1", 0,   "1"};
    QJsonArray noSerial{"ID-2", QJsonValue(), "T1", "", "",  "",  "",  "",
                        "",     "",           "1",  "", "1", "1", "1", "1"};
    QJsonArray header = titleArray();
    header << "备注";  // an extra title after the sixteenth is ignored
    writeWorkbook("write", "edited.xlsx",
                  QJsonArray{sheetSpec("设备", QJsonArray{header, typed, noSerial})});
    QList<struDeviceInfo> out;
    ASSERT_TRUE(files->ReadImportExcel(path("edited.xlsx"), out));
    ASSERT_EQ(out.size(), 1);
    const struDeviceInfo& d = out.at(0);
    EXPECT_EQ(d.devSN, "SN1");
    EXPECT_EQ(d.LicensePlateNumber, "京B1");
    EXPECT_EQ(d.PhoneNumber, "13800138000");
    EXPECT_EQ(d.ConfigCmd, "c,d");
    EXPECT_TRUE(d.isAutoUpdate);
    EXPECT_FALSE(d.GetLogFile);  // TRUE is not "1"
    EXPECT_TRUE(d.GetIndexFile);
    EXPECT_FALSE(d.GetPrintFile);
    EXPECT_TRUE(d.GetRunInfoFile);
}

TEST_F(ExcelSlotsTest, InlineStringWorkbookImportsItsFirstTab) {
    QJsonArray row{"ID-7", "SN7", "T7", "", "", "A7", "", "", "", "", "1", "", "0", "1", "", "1"};
    writeWorkbook("write-raw", "raw.xlsx",
                  QJsonArray{sheetSpec("list", QJsonArray{titleArray(), row}),
                             sheetSpec("notes", QJsonArray{QJsonArray{"x"}})});
    QList<struDeviceInfo> out;
    ASSERT_TRUE(files->ReadImportExcel(path("raw.xlsx"), out));
    ASSERT_EQ(out.size(), 1);
    EXPECT_EQ(out.at(0).devSN, "SN7");
    EXPECT_EQ(out.at(0).AppVersion, "A7");
    EXPECT_TRUE(out.at(0).isAutoUpdate);
    EXPECT_TRUE(out.at(0).GetIndexFile);
    EXPECT_FALSE(out.at(0).GetPrintFile);
}

TEST_F(ExcelSlotsTest, ImportFailures) {
    QJsonArray shortHeader = titleArray();
    shortHeader.removeLast();
    QJsonArray renamed = titleArray();
    renamed[0] = "设备id";
    const struct {
        const char* name;
        QJsonArray sheets;
        const char* message;
    } cases[] = {
        // The list on the second tab does not count.
        {"empty first sheet",
         QJsonArray{sheetSpec("empty", {}), sheetSpec("list", QJsonArray{titleArray()})}, nullptr},
        {"fifteen titles", QJsonArray{sheetSpec("s", QJsonArray{shortHeader})},
         "Excel header count error"},
        {"renamed title", QJsonArray{sheetSpec("s", QJsonArray{renamed})},
         "Excel header name error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeWorkbook("write", "bad.xlsx", c.sheets);
        MessageCapture capture;
        QList<struDeviceInfo> out;
        EXPECT_FALSE(files->ReadImportExcel(path("bad.xlsx"), out));
        if (c.message) {
            EXPECT_TRUE(capture.contains(c.message));
        }
    }
}

TEST_F(ExcelSlotsTest, SuffixRulesAreCaseSensitiveAndTouchNoFile) {
    // A file that must survive a refused export of the same name.
    QFile csv(path("list.csv"));
    ASSERT_TRUE(csv.open(QIODevice::WriteOnly));
    csv.write("keep me\n");
    csv.close();
    for (const QString& name : {QStringLiteral("list.XLSX"), QStringLiteral("list.csv"),
                                QStringLiteral("list.xlsx.bak"), QStringLiteral("list")}) {
        MessageCapture capture;
        EXPECT_FALSE(files->WriteExcelFile(path(name), threeDevices())) << qPrintable(name);
        EXPECT_TRUE(capture.contains("[WriteExcelFile] file Suffix error")) << qPrintable(name);
    }
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    EXPECT_EQ(csv.readAll(), "keep me\n");
    csv.close();
    EXPECT_FALSE(QFile::exists(path("list.XLSX")));

    MessageCapture capture;
    EXPECT_FALSE(files->WriteExcelFile("", threeDevices()));
    EXPECT_TRUE(capture.contains("[WriteExcelFile] parameter error"));

    // Good workbooks under the wrong names are refused by the import too.
    ASSERT_TRUE(files->WriteExcelFile(path("good.xlsx"), threeDevices()));
    QList<struDeviceInfo> out;
    for (const QString& name : {QStringLiteral("good.csv"), QStringLiteral("good.XLS")}) {
        ASSERT_TRUE(QFile::copy(path("good.xlsx"), path(name)));
        EXPECT_FALSE(files->ReadImportExcel(path(name), out)) << qPrintable(name);
    }
    EXPECT_FALSE(files->ReadImportExcel(path("missing.xlsx"), out));
}

TEST_F(ExcelSlotsTest, BinaryXlsWorkbookImports) {
    ASSERT_TRUE(QFile::copy(XLS_FIXTURE, path("list.xls")));
    QList<struDeviceInfo> out;
    ASSERT_TRUE(files->ReadImportExcel(path("list.xls"), out));
    ASSERT_EQ(out.size(), 2);  // the row without a serial number is dropped
    const struDeviceInfo& a = out.at(0);
    EXPECT_EQ(a.devId, "ID-1");
    EXPECT_EQ(a.devSN, "SN001");
    EXPECT_EQ(a.LicensePlateNumber, "京A12345");
    EXPECT_EQ(a.PhoneNumber, "13800138000");
    EXPECT_EQ(a.ConfigCmd, "set apn,cmnet");
    EXPECT_TRUE(a.isAutoUpdate);  // typed as the number 1
    EXPECT_TRUE(a.GetLogFile);
    EXPECT_FALSE(a.GetIndexFile);
    EXPECT_FALSE(a.GetPrintFile);
    EXPECT_TRUE(a.GetRunInfoFile);
    const struDeviceInfo& b = out.at(1);
    EXPECT_EQ(b.devSN, "SN002");
    EXPECT_EQ(b.LicensePlateNumber, "粤B00001");
    EXPECT_EQ(b.SmartModule, "S2.0");
    EXPECT_EQ(b.ConfigCmd, "");
    EXPECT_FALSE(b.isAutoUpdate);
    EXPECT_TRUE(b.GetIndexFile);
    EXPECT_TRUE(b.GetPrintFile);
    EXPECT_FALSE(b.GetRunInfoFile);
}

TEST_F(ExcelSlotsTest, CorruptWorkbookFails) {
    ASSERT_TRUE(files->WriteExcelFile(path("good.xlsx"), threeDevices()));
    QFile good(path("good.xlsx"));
    ASSERT_TRUE(good.open(QIODevice::ReadOnly));
    const QByteArray bytes = good.readAll();
    good.close();
    QFile cut(path("cut.xlsx"));
    ASSERT_TRUE(cut.open(QIODevice::WriteOnly));
    cut.write(bytes.left(bytes.size() / 2));
    cut.close();
    QList<struDeviceInfo> out;
    EXPECT_FALSE(files->ReadImportExcel(path("cut.xlsx"), out));
}

}  // namespace
