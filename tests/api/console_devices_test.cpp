// The console's device list, edits and list files against the running service: one table of
// list queries, edits that must leave every other column alone, and an export edited and
// imported back over a terminal that was upgraded in the meantime.
#include <QDateTime>
#include <QTextCodec>
#include <QUrl>

#include "tests/api/ConsoleFixture.h"

namespace {

const QString kColumns = QStringLiteral(
    "devId,devSN,devType,LicensePlateNumber,PhoneNumber,AppVersion,isAutoUpdate,ConfigCmd,"
    "GetLogFile,UpgradeCompletionTime");

class ConsoleDevicesTest : public ConsoleTest {
  protected:
    // D01..D05 stored, D06 reported by a terminal that stays connected; D03 has an upgrade
    // under way (its last progress ahead of any stall time), D04 a finished one.
    void SetUp() override {
        ASSERT_TRUE(startService()) << m_service.output().constData();
        seed(kColumns, {"'I01','D01','T1','京C72202','13800000001','V1.0',0,'',0,0",
                        "'I02','D02','T1','京A00001','13800000002','V2.0',1,'',0,0",
                        "'I03','D03','T2','沪C72203','13900000003','V1.0',0,'reboot',0,0",
                        "'I04','D04','T2','粤B12345','13900000004','V2.0',0,'',1,1700000000",
                        "'I05','D05','T3','京c99999','13700000005',null,0,null,0,0"});
        ASSERT_TRUE(
            m_db->exec("insert into Tab_UpgradeAttempt(devSN,startedAt,lastProgress,lastProgressAt,"
                       "completedAt) values('D03',1,40,4000000000,0),('D04',1,100,2,1700000000)"));
        DeviceReport online;
        online.devSN = "D06";
        online.devType = "T3";
        online.LicensePlateNumber = "苏E55555";
        online.PhoneNumber = "13600000006";
        online.AppVersion = "V3.0";
        m_online = report(online);
        ASSERT_TRUE(m_online);
    }

    // Every row of the device table, for comparisons before and after a change.
    QList<QVariantList> table() { return m_db->rows("select * from Tab_DeviceInfo order by id"); }

    // "devSN.column" for every cell that differs between two snapshots of the same rows.
    QStringList changedCells(const QList<QVariantList>& before, const QList<QVariantList>& after) {
        QStringList names;
        for (const QVariantList& row :
             m_db->rows("select name from pragma_table_info('Tab_DeviceInfo') order by cid"))
            names << row.value(0).toString();
        const int sn = names.indexOf("devSN");
        QStringList changed;
        EXPECT_EQ(before.size(), after.size());
        for (int r = 0; r < qMin(before.size(), after.size()); ++r)
            for (int c = 0; c < names.size(); ++c)
                if (before[r].value(c) != after[r].value(c))
                    changed << before[r].value(sn).toString() + "." + names[c];
        return changed;
    }

    std::unique_ptr<FakeTerminal> m_online;
};

QByteArray encoded(const QString& query) {
    return QUrl::toPercentEncoding(query, "=&");
}

TEST_F(ConsoleDevicesTest, ListQueriesSearchFilterAndSort) {
    const struct {
        QString query;
        QStringList expected;  // in order
        int total;
    } cases[] = {
        {"", {"D01", "D02", "D03", "D04", "D05", "D06"}, 6},
        {"q=C722", {"D01", "D03"}, 2},     // plates by the trigram index
        {"q=京C", {"D01", "D05"}, 2},      // two characters scan; ASCII case ignored
        {"q=京C7", {"D01"}, 1},            // Chinese through the index
        {"q=8000000", {"D01", "D02"}, 2},  // phone numbers
        {"q=i05", {"D05"}, 1},             // device IDs
        {"q=T2", {"D03", "D04"}, 2},       // types
        {"q=0%", {}, 0},                   // LIKE's wildcards are plain text
        {"q=\"C72", {}, 0},                // and so are the index's quotes and operators
        {"q=C72*", {}, 0},
        {"q=C72&devType=T2", {"D03"}, 1},
        {"q=京C&online=false", {"D01", "D05"}, 2},
        {"devType=T1", {"D01", "D02"}, 2},
        {"AppVersion=V2.0", {"D02", "D04"}, 2},
        {"AppVersionNot=V1.0", {"D02", "D04", "D05", "D06"}, 4},  // a missing one differs
        {"online=true", {"D06"}, 1},
        {"online=false", {"D01", "D02", "D03", "D04", "D05"}, 5},
        {"pending=forced", {"D02"}, 1},
        {"pending=command", {"D03"}, 1},
        {"pending=file", {"D04"}, 1},
        {"pending=any", {"D02", "D03", "D04"}, 3},
        {"pending=none", {"D01", "D05", "D06"}, 3},
        {"upgradeState=running", {"D03"}, 1},
        {"upgradeState=completed", {"D04"}, 1},
        {"upgradeState=none", {"D01", "D02", "D05", "D06"}, 4},
        {"sort=LicensePlateNumber&order=desc", {"D06", "D04", "D03", "D05", "D01", "D02"}, 6},
        {"sort=online&order=desc", {"D06", "D05", "D04", "D03", "D02", "D01"}, 6},
        {"devType=T2&pending=any&sort=devSN&order=desc", {"D04", "D03"}, 2},
        {"limit=2&offset=2", {"D03", "D04"}, 6},
    };
    for (const auto& c : cases) {
        const QJsonObject page = get("/KORVA/v2/devices?" + encoded(c.query));
        EXPECT_EQ(serials(page), c.expected) << c.query.toStdString();
        EXPECT_EQ(page.value("total").toInt(), c.total) << c.query.toStdString();
    }

    const QJsonObject online = get("/KORVA/v2/devices?online=true").value("items")[0].toObject();
    EXPECT_TRUE(online.value("online").toBool());
    EXPECT_GT(online.value("LastReportTime").toInt(), 1700000000);
    EXPECT_TRUE(online.value("presence")["peerAddress"].toString().startsWith("127.0.0.1:"));
    EXPECT_EQ(online.value("LicensePlateNumber").toString(), "苏E55555");
}

TEST_F(ConsoleDevicesTest, CursorPagesWalkTheSameOrderAsOnePage) {
    for (const char* text : {"sort=AppVersion&order=asc", "sort=AppVersion&order=desc",
                             "sort=online&order=asc", "sort=ConfigCmd&order=desc"}) {
        const QByteArray order(text);
        const QStringList whole = serials(get("/KORVA/v2/devices?limit=500&" + order));
        QStringList walked;
        QByteArray next = "/KORVA/v2/devices?limit=2&" + order;
        for (int pages = 0; !next.isEmpty() && pages < 10; ++pages) {
            const QJsonObject page = get(next);
            walked << serials(page);
            const QString cursor = page.value("nextCursor").toString();
            next = cursor.isEmpty()
                       ? QByteArray()
                       : "/KORVA/v2/devices?limit=2&" + order + "&cursor=" + cursor.toLatin1();
        }
        EXPECT_EQ(walked, whole) << order.constData();
        EXPECT_EQ(whole.size(), 6);
    }
}

TEST_F(ConsoleDevicesTest, BadParametersAreRefused) {
    const QString otherOrder =
        get("/KORVA/v2/devices?limit=1&sort=devSN").value("nextCursor").toString();
    for (const QByteArray& query :
         {QByteArray("limit=0"), QByteArray("limit=501"), QByteArray("offset=-1"),
          QByteArray("sort=nope"), QByteArray("order=up"), QByteArray("online=maybe"),
          QByteArray("pending=all"), QByteArray("cursor=garbage"),
          "sort=devId&cursor=" + otherOrder.toLatin1()}) {
        const QJsonObject error = json("GET", "/KORVA/v2/devices?" + query, {}, 400);
        EXPECT_EQ(error.value("error")["code"].toString(), "bad_request") << query.constData();
    }
    // PATCH is for the v2 routes only.
    EXPECT_EQ(call("PATCH", "/KORVA/deviceList", "{}").status, 405);
}

TEST_F(ConsoleDevicesTest, EditsWriteOnlyTheirColumns) {
    QList<QVariantList> before = table();
    const QJsonObject edited =
        json("PATCH", "/KORVA/v2/devices/D01", R"({"ConfigCmd":"reboot","GetLogFile":true})")
            .value("device")
            .toObject();
    EXPECT_EQ(edited.value("ConfigCmd").toString(), "reboot");
    EXPECT_TRUE(edited.value("GetLogFile").toBool());
    EXPECT_EQ(changedCells(before, table()), QStringList({"D01.ConfigCmd", "D01.GetLogFile"}));

    before = table();
    EXPECT_EQ(json("POST", "/KORVA/v2/devices/bulk",
                   R"({"filter":{"devType":"T2"},"set":{"isAutoUpdate":true,"ConfigCmd":""}})")
                  .value("updated")
                  .toInt(),
              2);
    // D03 had a command to clear, D04 none.
    EXPECT_EQ(changedCells(before, table()),
              QStringList({"D03.isAutoUpdate", "D03.ConfigCmd", "D04.isAutoUpdate"}));

    // Picked rows: only those the filter takes as well.
    before = table();
    EXPECT_EQ(
        json("POST", "/KORVA/v2/devices/bulk",
             R"({"filter":{"devType":"T2"},"serials":["D01","D03"],"set":{"GetPrintFile":true}})")
            .value("updated")
            .toInt(),
        1);
    EXPECT_EQ(changedCells(before, table()), QStringList({"D03.GetPrintFile"}));

    before = table();
    const struct {
        QByteArray method, target, body;
        int status;
    } refused[] = {
        {"PATCH", "/KORVA/v2/devices/NOPE", R"({"GetLogFile":true})", 404},
        {"PATCH", "/KORVA/v2/devices/D01", R"({"devType":"T9"})", 400},
        {"PATCH", "/KORVA/v2/devices/D01", R"({"GetLogFile":"1"})", 400},
        {"PATCH", "/KORVA/v2/devices/D01", R"({})", 400},
        {"PATCH", "/KORVA/v2/devices/D01", "not json", 400},
        {"POST", "/KORVA/v2/devices/bulk", R"({"set":{"GetLogFile":true}})", 400},
        {"POST", "/KORVA/v2/devices/bulk",
         R"({"filter":{"devtype":"T1"},"set":{"GetLogFile":true}})", 400},
        {"POST", "/KORVA/v2/devices/bulk", R"({"filter":{},"set":{"GetLogFile":1}})", 400},
        {"POST", "/KORVA/v2/devices/bulk",
         R"({"filter":{},"serials":[],"set":{"GetLogFile":true}})", 400},
        {"POST", "/KORVA/v2/devices/bulk",
         R"({"filter":{},"serials":["D01",2],"set":{"GetLogFile":true}})", 400},
        {"POST", "/KORVA/v2/devices/bulk/preview", R"({"filter":{},"set":{"GetLogFile":1}})", 400},
        {"POST", "/KORVA/v2/devices/bulk/preview", R"({"serials":["D01"]})", 400},
    };
    for (const auto& r : refused) json(r.method, r.target, r.body, r.status);
    EXPECT_EQ(changedCells(before, table()), QStringList());
}

// The CSV as the service writes it, as rows of texts.
QList<QStringList> csvRows(const QByteArray& bytes) {
    QList<QStringList> rows;
    const QString text = QTextCodec::codecForName("GBK")->toUnicode(bytes);
    for (const QString& line : text.split('\n', Qt::SkipEmptyParts)) rows << line.split(',');
    return rows;
}

QByteArray csvBytes(const QList<QStringList>& rows) {
    QString text;
    for (const QStringList& row : rows) text += row.join(',') + '\n';
    return QTextCodec::codecForName("GBK")->fromUnicode(text);
}

// T1 and T3 have packages, T2 none; D02 and the connected D06 are on their package's version.
TEST_F(ConsoleDevicesTest, BulkPreviewCountsWithoutWriting) {
    addPackage("T1", "p1.bin", "V2.0", 16);
    addPackage("T3", "p3.bin", "V3.0", 16);
    const QList<QVariantList> before = table();
    const struct {
        QByteArray body;
        int matched, online, onVersion, withoutPackage, offered, packages;
    } cases[] = {
        {R"({"filter":{},"set":{"isAutoUpdate":true}})", 6, 1, 2, 2, 4, 2},
        {R"({"filter":{"devType":"T1"},"set":{"isAutoUpdate":false}})", 2, 0, 1, 0, 0, 1},
        {R"({"filter":{},"serials":["D03","D05","D06","NOPE"]})", 3, 1, 1, 1, 0, 1},
        {R"({"filter":{"online":"true"},"set":{"isAutoUpdate":true}})", 1, 1, 1, 0, 1, 1},
        {R"({"filter":{"devType":"T9"},"set":{"isAutoUpdate":true}})", 0, 0, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        const QJsonObject p = json("POST", "/KORVA/v2/devices/bulk/preview", c.body);
        SCOPED_TRACE(c.body.constData());
        EXPECT_EQ(p.value("matched").toInt(), c.matched);
        EXPECT_EQ(p.value("online").toInt(), c.online);
        EXPECT_EQ(p.value("offline").toInt(), c.matched - c.online);
        EXPECT_EQ(p.value("alreadyOnVersion").toInt(), c.onVersion);
        EXPECT_EQ(p.value("withoutPackage").toInt(), c.withoutPackage);
        EXPECT_EQ(p.value("wouldBeOffered").toInt(), c.offered);
        EXPECT_EQ(p.value("packages").toArray().size(), c.packages);
        EXPECT_EQ(p.value("typedConfirmationAbove").toInt(), 1000);
    }
    const QJsonObject t1 =
        json("POST", "/KORVA/v2/devices/bulk/preview", R"({"filter":{"devType":"T1"}})")
            .value("packages")
            .toArray()
            .first()
            .toObject();
    EXPECT_EQ(t1.value("package").toObject().value("AppVersion").toString(), "V2.0");
    EXPECT_EQ(t1.value("offline").toInt(), 2);
    EXPECT_EQ(changedCells(before, table()), QStringList());
}

TEST_F(ConsoleDevicesTest, ExportEditedAndImportedKeepsFreshVersions) {
    const HttpResponse exported = call("GET", "/KORVA/v2/devices/export?format=csv&devType=T1");
    ASSERT_EQ(exported.status, 200);
    EXPECT_TRUE(exported.header("Content-Disposition").contains(".csv"));
    QList<QStringList> rows = csvRows(exported.body);
    ASSERT_EQ(rows.size(), 3) << exported.body.constData();
    EXPECT_EQ(rows[0].value(16), "升级完成时间");
    EXPECT_EQ(rows[1].value(1), "D01");
    EXPECT_EQ(rows[2].value(1), "D02");

    // The operator edits a command and both App versions, adds a terminal and leaves a row
    // without a serial number; meanwhile D02 finishes an upgrade.
    rows[1][11] = "set apn";
    rows[1][5] = "V9";
    rows[2][5] = "V9";
    rows << QStringList{"I99", "D99", "T1", "新A1", "1", "V9", "",  "", "",
                        "",    "1",   "",   "0",    "0", "0",  "0", "", ""}
         << QStringList{"I98", "",  "T1", "",  "",  "",  "",  "", "",
                        "",    "0", "",   "0", "0", "0", "0", "", ""};
    const QByteArray edited = csvBytes(rows);
    ASSERT_TRUE(m_db->exec(QStringLiteral("update Tab_DeviceInfo set AppVersion='V2.5',"
                                          "UpgradeCompletionTime=%1 where devSN='D02'")
                               .arg(QDateTime::currentSecsSinceEpoch())));

    const QList<QVariantList> before = table();
    const QJsonObject preview =
        json("POST", "/KORVA/v2/devices/import/preview?versions=true", edited);
    EXPECT_EQ(changedCells(before, table()), QStringList());
    const QJsonObject expectedSummary{{"rows", 4},        {"inserted", 1}, {"updated", 1},
                                      {"unchanged", 1},   {"skipped", 1},  {"flagged", 2},
                                      {"versionsKept", 1}};
    EXPECT_EQ(preview.value("summary").toObject(), expectedSummary);
    QHash<QString, QJsonObject> byDevice;
    for (const QJsonValue& row : preview.value("rows").toArray())
        byDevice.insert(row["devSN"].toString(), row.toObject());
    EXPECT_EQ(byDevice.value("D01").value("action").toString(), "update");
    EXPECT_TRUE(byDevice.value("D01").value("versionsWritten").toBool());
    EXPECT_EQ(byDevice.value("D01").value("changes").toArray().size(), 2);
    EXPECT_TRUE(byDevice.value("D02").value("flagged").toBool());
    EXPECT_TRUE(byDevice.value("D02").value("completionTimeDiffers").toBool());
    EXPECT_FALSE(byDevice.value("D02").value("versionsWritten").toBool());
    EXPECT_EQ(byDevice.value("D02").value("versionChanges")[0]["from"].toString(), "V2.5");
    EXPECT_EQ(byDevice.value("D99").value("action").toString(), "insert");
    EXPECT_EQ(byDevice.value("D02").value("line").toInt(), 3);

    // Without versions the App version is only shown.
    const QJsonObject plain = json("POST", "/KORVA/v2/devices/import/preview", edited);
    EXPECT_EQ(plain.value("rows")[0]["changes"].toArray().size(), 1);
    EXPECT_FALSE(plain.value("rows")[0]["versionsWritten"].toBool());

    const QJsonObject applied = json("POST", "/KORVA/v2/devices/import?versions=true", edited);
    EXPECT_EQ(applied.value("summary").toObject(), expectedSummary);
    const auto column = [&](const char* sn, const char* name) {
        return m_db->value(
            QStringLiteral("select %1 from Tab_DeviceInfo where devSN='%2'").arg(name, sn));
    };
    EXPECT_EQ(column("D01", "AppVersion").toString(), "V9");
    EXPECT_EQ(column("D01", "ConfigCmd").toString(), "set apn");
    EXPECT_EQ(column("D02", "AppVersion").toString(), "V2.5");  // the fresh version stays
    EXPECT_EQ(column("D99", "AppVersion").toString(), "V9");
    EXPECT_EQ(column("D99", "isAutoUpdate").toInt(), 1);

    for (const QByteArray& body : {QByteArray(), QByteArray("a,b\n1,2\n")})
        json("POST", "/KORVA/v2/devices/import", body, 400);

    // A workbook round trip changes nothing, and no export is left behind.
    const HttpResponse workbook = call("GET", "/KORVA/v2/devices/export?format=xlsx");
    ASSERT_EQ(workbook.status, 200);
    ASSERT_TRUE(workbook.body.startsWith("PK"));
    const QJsonObject same = json("POST", "/KORVA/v2/devices/import/preview", workbook.body);
    EXPECT_EQ(same.value("summary")["unchanged"].toInt(), 7);
    EXPECT_EQ(same.value("summary")["flagged"].toInt(), 0);
    EXPECT_EQ(QDir(m_service.path("Excel")).entryList(QDir::Files), QStringList());
}

}  // namespace
