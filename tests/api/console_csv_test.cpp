// Hostile texts from terminals and operators through every device list export, read by Python's
// csv module and by LibreOffice as a spreadsheet user's tools would, and posted back unedited:
// nothing changes.
#include <QTemporaryDir>

#include "tests/api/ConsoleFixture.h"

namespace {

const QString kOutsideGbk = QStringLiteral("𠮷A12345");

// A text and the cell a CSV reader sees for it (empty: the text itself).
const struct {
    QString text;
    QString cell;
} kTexts[] = {
    {"V2,\"x\"", ""}, {"1380\"0", ""},   {"a\r\nb", ""},        {"c\rd", ""},
    {"e\nf,", ""},    {"=1+2", "'=1+2"}, {"+86138", "'+86138"}, {"-5", "'-5"},
    {"@A1", "'@A1"},  {"\tT", "'\tT"},   {"\r=", "'\r="},       {"'=x", "''=x"},
    {"'plain", ""},   {"\"", ""},        {"京A·12", ""},        {kOutsideGbk, ""},
};
const QString kCompared = QStringLiteral(
    "devSN,devType,LicensePlateNumber,PhoneNumber,AppVersion,ConfigCmd,isAutoUpdate,devId");

class ConsoleCsvTest : public ConsoleTest {
  protected:
    // One terminal per text reports it as its type, phone number and App version; the plate and
    // the configuration command are an operator's.
    void SetUp() override {
        ASSERT_TRUE(startService()) << m_service.output().constData();
        for (int i = 0; i < int(std::size(kTexts)); ++i) {
            DeviceReport identity;
            identity.devSN = QStringLiteral("H%1").arg(i, 2, 10, QLatin1Char('0'));
            identity.devType = identity.PhoneNumber = identity.AppVersion = kTexts[i].text;
            ASSERT_TRUE(report(identity)) << i;
            ASSERT_TRUE(m_db->exec(
                QStringLiteral("update Tab_DeviceInfo set IdentityPinned=1,LicensePlateNumber="
                               "devType,ConfigCmd=devType where devSN='%1'")
                    .arg(identity.devSN)));
        }
        const QList<QVariantList> rows =
            m_db->rows("select devType from Tab_DeviceInfo order by devSN");
        ASSERT_EQ(rows.size(), int(std::size(kTexts)));
        for (int i = 0; i < rows.size(); ++i)
            ASSERT_EQ(rows[i].value(0).toString(), kTexts[i].text) << i;
        m_before = compared();
    }

    // The body as Python's csv module reads it.
    QList<QStringList> pythonRows(const QByteArray& body, const char* encoding) {
        QTemporaryDir dir;
        writeFile(dir.filePath("list.csv"), body);
        QProcess python;
        python.start("python3",
                     {"-c",
                      "import csv,io,json,sys\n"
                      "text = open(sys.argv[1], 'rb').read().decode(sys.argv[2])\n"
                      "print(json.dumps(list(csv.reader(io.StringIO(text, newline='')))))",
                      dir.filePath("list.csv"), encoding});
        EXPECT_TRUE(python.waitForFinished(15000));
        QList<QStringList> rows;
        for (const QJsonValue& row :
             QJsonDocument::fromJson(python.readAllStandardOutput()).array())
            rows << row.toVariant().toStringList();
        return rows;
    }

    // The body opened by LibreOffice and saved again as CSV: a cell it took for a formula comes
    // back as the formula's value.
    QList<QStringList> libreOfficeRows(const QByteArray& body) {
        QTemporaryDir dir;
        writeFile(dir.filePath("list.csv"), body);
        QProcess office;
        office.start("soffice", {"-env:UserInstallation=file://" + dir.filePath("profile"),
                                 "--headless", "--infilter=CSV:44,34,76", "--convert-to",
                                 "csv:Text - txt - csv (StarCalc):44,34,76", "--outdir",
                                 dir.filePath("out"), dir.filePath("list.csv")});
        EXPECT_TRUE(office.waitForFinished(60000));
        return pythonRows(readFile(dir.filePath("out/list.csv")), "utf-8");
    }

    // Every data row read by Python shows each text in its columns as a spreadsheet should.
    // LibreOffice keeps a line break inside a cell as LF alone.
    void expectCells(const QList<QStringList>& rows, bool gbk, bool lineBreaksAsLf = false) {
        ASSERT_EQ(rows.size(), int(std::size(kTexts)) + 1);
        for (int i = 0; i < int(std::size(kTexts)); ++i) {
            const QStringList& row = rows[i + 1];
            ASSERT_GE(row.size(), 16) << i;
            QString cell = kTexts[i].cell.isEmpty() ? kTexts[i].text : kTexts[i].cell;
            if (lineBreaksAsLf) cell.replace("\r\n", "\n").replace('\r', '\n');
            if (gbk && kTexts[i].text == kOutsideGbk) continue;
            for (const int column : {2, 3, 4, 5, 11})
                EXPECT_EQ(row[column], cell) << i << " column " << column;
        }
    }

    // The compared columns of each row, one text per row.
    std::vector<std::string> compared() {
        std::vector<std::string> out;
        for (const QVariantList& row :
             m_db->rows("select " + kCompared + " from Tab_DeviceInfo order by devSN")) {
            QStringList cells;
            for (const QVariant& cell : row) cells << cell.toString();
            out.push_back(cells.join(" | ").toStdString());
        }
        return out;
    }

    std::vector<std::string> m_before;
};

TEST_F(ConsoleCsvTest, EveryExportReadsRightAndPostedBackChangesNothing) {
    const HttpResponse old = call("GET", "/KORVA/downLoadExcel");
    EXPECT_EQ(old.header("Content-Type"), "text/csv; charset=GBK");
    expectCells(pythonRows(old.body, "gbk"), true);
    EXPECT_EQ(call("POST", "/KORVA/uploadExcel?name=list.csv", old.body).status, 200);
    EXPECT_EQ(compared(), m_before);

    const HttpResponse utf8 = call("GET", "/KORVA/v2/devices/export?charset=utf-8");
    EXPECT_EQ(utf8.header("Content-Type"), "text/csv; charset=utf-8");
    EXPECT_TRUE(utf8.body.startsWith("\xEF\xBB\xBF"));
    expectCells(pythonRows(utf8.body, "utf-8-sig"), false);
    expectCells(libreOfficeRows(utf8.body), false, true);
    const HttpResponse gbk = call("GET", "/KORVA/v2/devices/export");
    EXPECT_EQ(gbk.header("Content-Type"), "text/csv; charset=GBK");
    expectCells(pythonRows(gbk.body, "gbk"), true);
    const HttpResponse xlsx = call("GET", "/KORVA/v2/devices/export?format=xlsx");

    const struct {
        const char* what;
        QByteArray body;
        int flagged;  // rows whose texts the file cannot carry
    } files[] = {{"utf-8", utf8.body, 0}, {"gbk", gbk.body, 1}, {"xlsx", xlsx.body, 0}};
    for (const auto& file : files) {
        SCOPED_TRACE(file.what);
        const QJsonObject preview = json("POST", "/KORVA/v2/devices/import/preview", file.body);
        const QJsonObject summary = preview.value("summary").toObject();
        EXPECT_EQ(summary.value("updated").toInt() + summary.value("inserted").toInt(), 0);
        EXPECT_EQ(summary.value("flagged").toInt(), file.flagged);
        for (const QJsonValue& row : preview.value("rows").toArray())
            EXPECT_EQ(row["textsKept"].toArray().size(), 5)
                << row["devSN"].toString().toStdString();
        json("POST", "/KORVA/v2/devices/import?versions=true", file.body);
        EXPECT_EQ(compared(), m_before);
    }
}

TEST_F(ConsoleCsvTest, AFileThatCannotBeImportedSaysWhatAndWhere) {
    const QByteArray xlsx = call("GET", "/KORVA/v2/devices/export?format=xlsx").body;
    QByteArray csv = call("GET", "/KORVA/v2/devices/export?charset=utf-8").body;
    csv.replace("设备型号", "型号");
    const struct {
        QByteArray body;
        const char* message;
    } files[] = {
        {xlsx.left(300), "不是完整的 xlsx 工作簿"},
        {csv, "第 3 列（C 列）标题应为“设备型号”，文件中为“型号”"},
        {"\xEF\xBB\xBF设备ID,设备序列号\r\n", "标题行只有 2 列，需要 16 列"},
    };
    for (const auto& file : files) {
        const QJsonObject answer = json("POST", "/KORVA/v2/devices/import/preview", file.body, 400);
        EXPECT_TRUE(answer["error"]["message"].toString().contains(QString::fromUtf8(file.message)))
            << answer["error"]["message"].toString().toStdString();
    }
    EXPECT_EQ(compared(), m_before);
}

}  // namespace
