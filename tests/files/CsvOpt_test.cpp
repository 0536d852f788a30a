#include "files/CsvOpt.h"

#include <gtest/gtest.h>
#include <QFile>
#include <QTemporaryDir>
#include <QTextCodec>

#include "files/FileSuffix.h"

namespace {

class CsvOptTest : public ::testing::Test {
  protected:
    QString path(const QString& name) const { return dir.filePath(name); }
    QByteArray readBytes(const QString& name) const {
        QFile file(path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    void writeBytes(const QString& name, const QByteArray& bytes) const {
        QFile file(path(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(bytes), bytes.size());
    }
    static QByteArray gbk(const QString& text) {
        return QTextCodec::codecForName("GBK")->fromUnicode(text);
    }

    QTemporaryDir dir;
    CsvOpt csv;
};

TEST(CsvSplitTest, ParseReadsRecordsAsRfc4180) {
    const struct {
        QString text;
        QList<QStringList> rows;
    } cases[] = {
        {R"(a,"b,c",d)", {{"a", "b,c", "d"}}},
        {R"("x""y")", {{R"(x"y)"}}},
        {"a,,b\r\n,", {{"a", "", "b"}, {"", ""}}},
        {R"(a,"")", {{"a", ""}}},
        {"\"a\r\nb,c\",d\ne", {{"a\r\nb,c", "d"}, {"e"}}},  // a quoted line break stays
        {R"(a"b,c)", {{R"(a"b)", "c"}}},                    // a quote inside a field is text
        {R"("a"b,"unclosed,x)", {{"ab", "unclosed,x"}}},
        {"\n\r\n\rx\r", {{"x"}}},  // empty lines are skipped
        {"'=1+2,''-x,'abc,'", {{"=1+2", "'-x", "'abc", "'"}}},
        {"设备ID,车牌号,", {{"设备ID", "车牌号", ""}}},
    };
    for (const auto& c : cases) EXPECT_EQ(CsvOpt::parse(c.text), c.rows) << c.text.toStdString();
}

TEST(CsvSplitTest, FileSuffixOfTheLastComponent) {
    const struct {
        QString name;
        QString suffix;
    } cases[] = {
        {"List.CSV", "CSV"}, {"/a/b/list.csv", "csv"}, {"x.tar.gz", "gz"},
        {"a.csv/b", ""},     {"dir.v2\\name", ""},     {"C:\\Excel\\l.csv", "csv"},
        {"noext", ""},       {"trailing.", ""},        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(fileSuffix(c.name), c.suffix) << c.name.toStdString();
}

TEST_F(CsvOptTest, WriteQuotesSpecialCellsNeutralisesFormulasAndEndsEveryCellWithAComma) {
    ASSERT_EQ(
        csv.WriteCsv(path("out.csv"),
                     {{"a", "A,1", R"(say "hi")", "", "x\ny", "=1+2", "'-1"}, {"设备ID"}, {}}),
        0);
    const QByteArray expected =
        "a,\"A,1\",\"say \"\"hi\"\"\",,\"x\ny\",'=1+2,''-1,\n" + gbk("设备ID") + ",\n\n";
    EXPECT_EQ(readBytes("out.csv"), expected);
}

// Whatever a cell holds comes back the same from a file of either charset; in GBK only what it
// can carry, and what it cannot is recognised as lost.
TEST_F(CsvOptTest, EveryTextSurvivesWriteAndRead) {
    const QString outsideGbk = QStringLiteral("𠮷A12345");
    const QStringList texts{"V2,\"x\"", "1380\"0", "\"",      "a\r\nb", "\r",      "\n,", "=1+2",
                            "+86",      "-5",      "@SUM(1)", "\tx",    "'=x",     "''@", "'",
                            "'plain",   " sp ",    "京A·1",   "",       outsideGbk};
    QList<QVariant> row;
    for (const QString& text : texts) row << text;
    for (const auto charset : {CsvOpt::Charset::Gbk, CsvOpt::Charset::Utf8}) {
        const bool utf8 = charset == CsvOpt::Charset::Utf8;
        writeBytes("rt.csv", CsvOpt::fileStart(charset) + CsvOpt::EncodeCsvLine(row, charset) +
                                 CsvOpt::EncodeCsvLine({"next"}, charset));
        QList<QList<QVariant>> rows;
        ASSERT_EQ(csv.ReadCsv(path("rt.csv"), rows), 0);
        ASSERT_EQ(rows.size(), 2) << utf8;
        ASSERT_EQ(rows[0].size(), row.size() + 1) << utf8;  // the comma after the last cell
        const QString last = rows[0].at(row.size() - 1).toString();
        EXPECT_EQ(rows[0].mid(0, row.size() - 1), row.mid(0, row.size() - 1)) << utf8;
        EXPECT_EQ(last == outsideGbk, utf8);
        EXPECT_EQ(CsvOpt::lostInGbk(outsideGbk, last), !utf8);
        EXPECT_EQ(rows[1].value(0), "next");
    }
    EXPECT_FALSE(CsvOpt::lostInGbk(outsideGbk, "?"));
    EXPECT_FALSE(CsvOpt::lostInGbk("?A1", "?A1"));
}

TEST_F(CsvOptTest, WritesGbkWithoutMarkOrCarriageReturn) {
    ASSERT_EQ(csv.WriteCsv(path("out.csv"), {{"设备ID", "车牌号"}}), 0);
    const QByteArray bytes = readBytes("out.csv");
    EXPECT_TRUE(bytes.startsWith("\xC9\xE8\xB1\xB8ID,")) << bytes.toHex().toStdString();
    EXPECT_FALSE(bytes.contains(QString("设备").toUtf8()));
    EXPECT_FALSE(bytes.contains('\r'));
    EXPECT_TRUE(bytes.endsWith(",\n"));
}

TEST_F(CsvOptTest, WriteReplacesAnExistingFile) {
    writeBytes("out.csv", QByteArray(1000, 'x'));
    ASSERT_EQ(csv.WriteCsv(path("out.csv"), {{"a"}}), 0);
    EXPECT_EQ(readBytes("out.csv"), "a,\n");
}

TEST_F(CsvOptTest, WriteRefusesBadNamesAndUnwritablePaths) {
    EXPECT_EQ(csv.WriteCsv("", {{"a"}}), -1);
    EXPECT_EQ(csv.WriteCsv(path("out.txt"), {{"a"}}), -1);
    EXPECT_FALSE(QFile::exists(path("out.txt")));
    EXPECT_EQ(csv.WriteCsv(path("missing/dir/out.csv"), {{"a"}}), -1);
    // CsvOpt itself only asks the suffix to mention csv.
    EXPECT_EQ(csv.WriteCsv(path("out.CSVX"), {{"a"}}), 0);
}

TEST_F(CsvOptTest, ReadTakesTheEncodingFromAByteOrderMark) {
    const QString text = "设备ID,车牌号\r\n\n京A1,\"a,b\",\r\n\r\nlast";
    const QList<QList<QVariant>> expected{{"设备ID", "车牌号"}, {"京A1", "a,b", ""}, {"last"}};
    const struct {
        const char* codec;
        QByteArray bom;
    } encodings[] = {
        {"GBK", ""},
        {"UTF-8", "\xEF\xBB\xBF"},
        {"UTF-16LE", QByteArray("\xFF\xFE", 2)},
        {"UTF-16BE", QByteArray("\xFE\xFF", 2)},
        {"UTF-32LE", QByteArray("\xFF\xFE\x00\x00", 4)},
        {"UTF-32BE", QByteArray("\x00\x00\xFE\xFF", 4)},
    };
    for (const auto& e : encodings) {
        writeBytes("in.csv", e.bom + QTextCodec::codecForName(e.codec)->fromUnicode(text));
        QList<QList<QVariant>> rows{{"stale"}};
        ASSERT_EQ(csv.ReadCsv(path("in.csv"), rows), 0) << e.codec;
        EXPECT_EQ(rows, expected) << e.codec;
    }
}

TEST_F(CsvOptTest, ReadWithoutMarkIsGbkEvenForUtf8Text) {
    // A UTF-8 file without a mark is not what the spreadsheet hosts write; it reads as GBK.
    writeBytes("in.csv", QString("设备ID,").toUtf8());
    QList<QList<QVariant>> rows;
    ASSERT_EQ(csv.ReadCsv(path("in.csv"), rows), 0);
    ASSERT_EQ(rows.size(), 1);
    EXPECT_NE(rows[0][0].toString(), "设备ID");
}

// Reads that give no rows, failed or not, leave no stale row behind.
struct NoRowsCase {
    const char* name;
    QString file;         // empty: the empty name
    const char* content;  // nullptr: the file does not exist
    int result;
};

class CsvReadNoRowsTest : public CsvOptTest, public ::testing::WithParamInterface<NoRowsCase> {};

TEST_P(CsvReadNoRowsTest, ClearsTheRows) {
    const NoRowsCase& c = GetParam();
    if (c.content) writeBytes(c.file, c.content);
    QList<QList<QVariant>> rows{{"stale"}};
    EXPECT_EQ(csv.ReadCsv(c.file.isEmpty() ? QString() : path(c.file), rows), c.result);
    EXPECT_TRUE(rows.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Csv, CsvReadNoRowsTest,
                         ::testing::Values(NoRowsCase{"AbsentFile", "absent.csv", nullptr, -1},
                                           NoRowsCase{"OtherSuffix", "in.txt", "a,b\n", -1},
                                           NoRowsCase{"EmptyName", "", nullptr, -1},
                                           NoRowsCase{"EmptyFile", "empty.csv", "", 0},
                                           NoRowsCase{"OnlyLineEnds", "blank.csv", "\n\r\n\n", 0}),
                         [](const ::testing::TestParamInfo<NoRowsCase>& info) {
                             return info.param.name;
                         });

TEST_F(CsvOptTest, AFileBeyondALimitIsRefusedWhole) {
    // Three non-empty lines of at most three fields, 13 bytes.
    writeBytes("in.csv", "a,b\n\nc,d,e\nf\n");
    const struct {
        qint64 bytes;
        int rows, cells;
        int result;
    } cases[] = {
        {-1, -1, -1, 0}, {13, 3, 3, 0}, {12, -1, -1, -1}, {-1, 2, -1, -1}, {-1, -1, 2, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bytes << " " << c.rows << " " << c.cells);
        CsvLimits limits;
        limits.maxBytes = c.bytes;
        limits.maxRows = c.rows;
        limits.maxCellsPerRow = c.cells;
        QList<QList<QVariant>> rows{{"stale"}};
        EXPECT_EQ(csv.ReadCsv(path("in.csv"), rows, limits), c.result);
        EXPECT_EQ(rows.size(), c.result == 0 ? 3 : 0);
    }
}

}  // namespace
