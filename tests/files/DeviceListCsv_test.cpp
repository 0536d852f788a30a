#include "files/DeviceListCsv.h"

#include <gtest/gtest.h>
#include <QFile>
#include <QTemporaryDir>
#include <QTextCodec>

#include "files/DeviceListTable.h"
#include "tests/files/DeviceSamples.h"
#include "tests/support/MessageCapture.h"

namespace {

// The sixteen exchanged fields; the others never travel through the file.
void expectSameColumns(const struDeviceInfo& actual, const struDeviceInfo& expected) {
    EXPECT_EQ(actual.devId, expected.devId);
    EXPECT_EQ(actual.devSN, expected.devSN);
    EXPECT_EQ(actual.devType, expected.devType);
    EXPECT_EQ(actual.LicensePlateNumber, expected.LicensePlateNumber);
    EXPECT_EQ(actual.PhoneNumber, expected.PhoneNumber);
    EXPECT_EQ(actual.AppVersion, expected.AppVersion);
    EXPECT_EQ(actual.McuVersion, expected.McuVersion);
    EXPECT_EQ(actual.FourGVersion, expected.FourGVersion);
    EXPECT_EQ(actual.GnssVersion, expected.GnssVersion);
    EXPECT_EQ(actual.SmartModule, expected.SmartModule);
    EXPECT_EQ(actual.isAutoUpdate, expected.isAutoUpdate);
    EXPECT_EQ(actual.ConfigCmd, expected.ConfigCmd);
    EXPECT_EQ(actual.GetLogFile, expected.GetLogFile);
    EXPECT_EQ(actual.GetIndexFile, expected.GetIndexFile);
    EXPECT_EQ(actual.GetPrintFile, expected.GetPrintFile);
    EXPECT_EQ(actual.GetRunInfoFile, expected.GetRunInfoFile);
}

class DeviceListCsvTest : public ::testing::Test {
  protected:
    QString path(const QString& name) const { return dir.filePath(name); }
    static QByteArray gbk(const QString& text) {
        return QTextCodec::codecForName("GBK")->fromUnicode(text);
    }
    // Hand-edited files as the operators' spreadsheet program saves them: no comma after the
    // last cell, CRLF line ends.
    static QString titleLine(const QStringList& titles) { return titles.join(','); }
    void writeLines(const QString& name, const QStringList& lines, const char* eol = "\r\n") {
        QFile file(path(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        for (const QString& line : lines) file.write(gbk(line) + eol);
    }
    QByteArray readBytes(const QString& name) const {
        QFile file(path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    static QString row(const QString& sn, const QString& autoUpdate = "0") {
        return QString("D,%1,T,P,138,A,M,F,G,S,%2,cmd,0,0,0,0").arg(sn, autoUpdate);
    }

    QTemporaryDir dir;
    MessageCapture capture;
};

TEST_F(DeviceListCsvTest, ExportOfAnEmptyListWritesOnlyTheTitleLine) {
    ASSERT_TRUE(DeviceListCsv::write(path("list.csv"), {}));
    EXPECT_EQ(readBytes("list.csv"),
              gbk("设备ID,设备序列号,设备型号,车牌号,手机号,APP版本,MCU版本,4G模块版本,GNSS版本,"
                  "智能模块版本,是否自动升级,配置指令,上传日志,上传录像索引,上传打印文件,"
                  "上传行车信息文件,\n"));
}

TEST_F(DeviceListCsvTest, EveryColumnSurvivesExportAndImport) {
    QList<struDeviceInfo> devices;
    for (int i = 0; i < 6; ++i) {
        struDeviceInfo d = sampleDevice(QString("SN%1").arg(i));
        // Each flag set alone once, then all, then none.
        d.isAutoUpdate = i == 0 || i == 5;
        d.GetLogFile = i == 1 || i == 5;
        d.GetIndexFile = i == 2 || i == 5;
        d.GetPrintFile = i == 3 || i == 5;
        d.GetRunInfoFile = i == 4 || i == 5;
        devices << d;
    }
    devices[1].LicensePlateNumber = "A,1";
    devices[2].ConfigCmd = R"(set "apn" cmnet)";  // balanced quotes, no comma
    devices[3].ConfigCmd = "a,b,c";
    devices[4].devType = "";
    // Fields that are not in the file come back empty or zero.
    devices[0].id = 9;
    devices[0].UpgradeCompletionTime = 1657500000;
    devices[0].upgradeProgress = 50;
    devices[0].progressReported = true;
    devices[0].Reserve = "r";

    ASSERT_TRUE(DeviceListCsv::write(path("list.csv"), devices));
    EXPECT_TRUE(readBytes("list.csv").contains("\"A,1\","));
    EXPECT_TRUE(readBytes("list.csv").contains(",\"set \"\"apn\"\" cmnet\","));

    QList<struDeviceInfo> imported{sampleDevice("stale")};
    ASSERT_TRUE(DeviceListCsv::read(path("list.csv"), imported));
    ASSERT_EQ(imported.size(), devices.size());
    for (int i = 0; i < devices.size(); ++i) {
        SCOPED_TRACE(i);
        expectSameColumns(imported[i], devices[i]);
    }
    EXPECT_EQ(imported[0].id, 0);
    EXPECT_EQ(imported[0].UpgradeCompletionTime, 0);
    EXPECT_EQ(imported[0].upgradeProgress, 0u);
    EXPECT_FALSE(imported[0].progressReported);
    EXPECT_TRUE(imported[0].Reserve.isEmpty());
}

// The first non-empty line must carry the sixteen titles, in order; more are allowed.
struct HeaderCase {
    const char* name;
    void (*editTitles)(QStringList&);  // nullptr: the file has no title line
    QStringList rest;                  // the lines after the titles
    const char* failure;               // the one line logged; nullptr: the read succeeds
    QStringList serials;               // imported on success
};

class DeviceListCsvHeaderTest : public DeviceListCsvTest,
                                public ::testing::WithParamInterface<HeaderCase> {};

TEST_P(DeviceListCsvHeaderTest, IsCheckedBeforeAnyRow) {
    const HeaderCase& c = GetParam();
    QStringList lines = c.rest;
    if (c.editTitles) {
        QStringList titles = DeviceListTable::titles();
        c.editTitles(titles);
        lines.prepend(titleLine(titles));
    }
    writeLines("list.csv", lines);
    QList<struDeviceInfo> imported{sampleDevice("stale")};
    EXPECT_EQ(DeviceListCsv::read(path("list.csv"), imported), c.failure == nullptr);
    if (c.failure) {
        EXPECT_EQ(capture.lines(), QStringList{c.failure});
        return;
    }
    QStringList serials;
    for (const struDeviceInfo& device : imported) serials << device.devSN;
    EXPECT_EQ(serials, c.serials);
}

const char* const kSn1 = "D,SN1,T,P,138,A,M,F,G,S,0,cmd,0,0,0,0";
const char* const kNoHeader = "[ReadImportCsv] file has no header row";

INSTANTIATE_TEST_SUITE_P(
    Csv, DeviceListCsvHeaderTest,
    ::testing::Values(
        HeaderCase{"FifteenTitles",
                   [](QStringList& t) { t.removeLast(); },
                   {kSn1},
                   "Excel header count error",
                   {}},
        HeaderCase{"LowerCaseId",
                   [](QStringList& t) { t[0] = "设备id"; },
                   {kSn1},
                   "Excel header name error",
                   {}},
        HeaderCase{"SwappedColumns",
                   [](QStringList& t) { t.swapItemsAt(12, 13); },
                   {kSn1},
                   "Excel header name error",
                   {}},
        HeaderCase{
            "ExtraSeventeenthTitle", [](QStringList& t) { t << "备注"; }, {kSn1}, nullptr, {"SN1"}},
        HeaderCase{"HeaderOnly", [](QStringList&) {}, {}, nullptr, {}},
        HeaderCase{"EmptyFile", nullptr, {}, kNoHeader, {}},
        HeaderCase{"OnlyEmptyLines", nullptr, {"", "", ""}, kNoHeader, {}}),
    [](const ::testing::TestParamInfo<HeaderCase>& info) { return info.param.name; });

TEST_F(DeviceListCsvTest, FlagsAreSetOnlyByTheTextOne) {
    const struct {
        QString cell;
        bool flag;
    } cases[] = {{"1", true},   {"0", false},  {"是", false}, {"TRUE", false}, {"true", false},
                 {" 1", false}, {"1 ", false}, {"01", false}, {"", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cell.toStdString());
        const QString cells = QString("D,SN1,T,P,138,A,M,F,G,S,%1,cmd,%1,%1,%1,%1").arg(c.cell);
        writeLines("list.csv", {titleLine(DeviceListTable::titles()), cells});
        QList<struDeviceInfo> imported;
        ASSERT_TRUE(DeviceListCsv::read(path("list.csv"), imported));
        ASSERT_EQ(imported.size(), 1);
        EXPECT_EQ(imported[0].isAutoUpdate, c.flag);
        EXPECT_EQ(imported[0].GetLogFile, c.flag);
        EXPECT_EQ(imported[0].GetIndexFile, c.flag);
        EXPECT_EQ(imported[0].GetPrintFile, c.flag);
        EXPECT_EQ(imported[0].GetRunInfoFile, c.flag);
    }
}

TEST_F(DeviceListCsvTest, RowsWithoutSerialNumberOrTooShortAreLeftOut) {
    writeLines("list.csv",
               {titleLine(DeviceListTable::titles()), row("SN1", "1"), row(""),
                "D,SN2,T,P,138,A,M,F,G,S,1,cmd,0,0,0",  // 15 cells
                "", row("SN3")},
               "\n");
    QList<struDeviceInfo> imported;
    ASSERT_TRUE(DeviceListCsv::read(path("list.csv"), imported));
    ASSERT_EQ(imported.size(), 2);
    EXPECT_EQ(imported[0].devSN, "SN1");
    EXPECT_TRUE(imported[0].isAutoUpdate);
    EXPECT_EQ(imported[1].devSN, "SN3");
}

TEST_F(DeviceListCsvTest, FileNamesAndSuffixes) {
    EXPECT_TRUE(DeviceListCsv::write(path("List.CSV"), {sampleDevice("SN1")}));
    QList<struDeviceInfo> imported;
    EXPECT_TRUE(DeviceListCsv::read(path("List.CSV"), imported));
    EXPECT_EQ(imported.size(), 1);

    EXPECT_FALSE(DeviceListCsv::write(path("list.csvx"), {sampleDevice("SN1")}));
    EXPECT_TRUE(capture.contains("[WriteCsvFile] file Suffix error"));
    EXPECT_FALSE(QFile::exists(path("list.csvx")));
    // A csvx file that exists is still refused by the import.
    QFile::copy(path("List.CSV"), path("list.csvx"));
    EXPECT_FALSE(DeviceListCsv::read(path("list.csvx"), imported));

    capture.clear();
    EXPECT_FALSE(DeviceListCsv::write("", {sampleDevice("SN1")}));
    EXPECT_TRUE(capture.contains("[WriteCsvFile] parameter error"));
    EXPECT_FALSE(DeviceListCsv::read(path("absent.csv"), imported));
    EXPECT_FALSE(DeviceListCsv::write(path("no/such/dir/list.csv"), {sampleDevice("SN1")}));
}

TEST(DeviceListTableTest, WorkbookCellsNeedNoFullRowAndMayBeNumbers) {
    // Workbook tables carry numbers for the flags and are not checked for row length.
    QList<QVariant> header;
    for (const QString& title : DeviceListTable::titles()) header << title;
    QList<QVariant> numeric{"D", "SN1", "T", "P",   "138", "A", "M",        "F",
                            "G", "S",   1.0, "cmd", 0.0,   1,   QVariant(), true};
    const QList<QVariant> shortRow{"D", "SN2"};
    QList<struDeviceInfo> out;
    ASSERT_TRUE(DeviceListTable::fromTable({header, numeric, shortRow}, out, false));
    ASSERT_EQ(out.size(), 2);
    EXPECT_EQ(out[0].PhoneNumber, "138");
    EXPECT_TRUE(out[0].isAutoUpdate);
    EXPECT_FALSE(out[0].GetLogFile);
    EXPECT_TRUE(out[0].GetIndexFile);
    EXPECT_FALSE(out[0].GetPrintFile);
    EXPECT_FALSE(out[0].GetRunInfoFile);  // the boolean true reads as "true", not "1"
    EXPECT_EQ(out[1].devSN, "SN2");
    EXPECT_TRUE(out[1].ConfigCmd.isEmpty());

    ASSERT_TRUE(DeviceListTable::fromTable({header, shortRow}, out, true));
    EXPECT_TRUE(out.isEmpty());
}

}  // namespace
