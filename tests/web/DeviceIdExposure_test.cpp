// What the lowest role learns of the identity a terminal proves itself with, whether an imported
// device ID holds against the first terminal to report it, and workbooks that would inflate the
// service through the import preview; from outside, with logins on.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <atomic>
#include <thread>

#include "tests/support/Login.h"
#include "tests/support/WebServiceFixture.h"

namespace {

using Headers = QList<QPair<QByteArray, QByteArray>>;
const QByteArray kDevId = "DEV0012345678";
const QByteArray kMasked = "*********5678";

class DeviceIdExposureTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_service = new ServiceProcess();
        s_service->setParam("OperatorLogin", 1);
        ASSERT_TRUE(s_service->start()) << s_service->output().constData();
        // A row an operator added before device IDs were pinned on import.
        ServiceDb(s_service->path("WFS.db"))
            .exec("insert into Tab_DeviceInfo(devId,devSN,devType,IdentityPinned) values('" +
                  kDevId + "','SN1','T1',0)");
        s_admin = takeOverAdmin(*s_service, "admin-secret");
        s_viewer = makeAccount(port(), s_admin, "viewer1", "viewer");
        s_operator = makeAccount(port(), s_admin, "operator1", "operator");
        ASSERT_TRUE(s_admin.valid() && s_viewer.valid() && s_operator.valid());
    }
    static void TearDownTestSuite() {
        delete s_service;
        s_service = nullptr;
    }
    static quint16 port() { return s_service->httpPort(); }
    static HttpResponse call(const QByteArray& method, const QByteArray& target,
                             const Headers& headers, const QByteArray& body = {}) {
        return httpRequest(port(), method, target, headers, body);
    }
    // The service's peak resident memory, from /proc.
    static qint64 peakKiB() {
        QFile status(QStringLiteral("/proc/%1/status").arg(s_service->processId()));
        if (!status.open(QIODevice::ReadOnly)) return -1;
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("VmHWM:"))
                return line.mid(6).trimmed().split(' ').value(0).toLongLong();
        return -1;
    }

    static ServiceProcess* s_service;
    static Login s_admin, s_viewer, s_operator;
};
ServiceProcess* DeviceIdExposureTest::s_service = nullptr;
Login DeviceIdExposureTest::s_admin, DeviceIdExposureTest::s_viewer,
    DeviceIdExposureTest::s_operator;

TEST_F(DeviceIdExposureTest, OnlyOperatorsReadOrSearchDeviceIds) {
    enum Shows { Whole, Masked, Nothing, Refused };
    const struct {
        QByteArray target;
        Shows toViewer;  // what an operator or admin reads is always the whole ID
    } routes[] = {
        {"/KORVA/deviceList", Masked},
        {"/KORVA/deviceList?deviceNo=SN1&phoneNum=", Masked},
        {"/KORVA/downLoadExcel", Masked},
        {"/KORVA/v2/devices", Masked},
        {"/KORVA/v2/devices/SN1", Masked},
        {"/KORVA/v2/devices/export", Masked},
        {"/KORVA/v2/devices?q=DEV00123", Nothing},
        {"/KORVA/v2/devices?q=SN1", Masked},
        {"/KORVA/v2/devices?sort=devId", Refused},
    };
    const struct {
        const char* who;
        Headers headers;
        bool operatorOrAbove;
    } callers[] = {
        {"viewer", s_viewer.headers(), false},
        {"operator", s_operator.headers(), true},
        {"admin", s_admin.headers(), true},
    };
    for (const auto& caller : callers) {
        for (const auto& route : routes) {
            const Shows expected = caller.operatorOrAbove ? Whole : route.toViewer;
            const HttpResponse r = call("GET", route.target, caller.headers);
            const std::string what = std::string(caller.who) + " " + route.target.constData();
            EXPECT_EQ(r.status, expected == Refused ? 400 : 200) << what;
            EXPECT_EQ(r.body.contains(kDevId), expected == Whole) << what;
            EXPECT_EQ(r.body.contains(kMasked), expected == Masked) << what;
            if (expected == Nothing) {
                EXPECT_EQ(jsonObject(r.body).value("total").toInt(), 0) << what;
            }
        }
    }
    // Each old export is a file of its own, gone once sent.
    EXPECT_TRUE(waitUntil([] { return QDir(s_service->path("Excel")).isEmpty(); }));
}

TEST_F(DeviceIdExposureTest, ImportedDeviceIdsArePinnedAndMaskedOnesLeftAlone) {
    ServiceDb db(s_service->path("WFS.db"));
    const QByteArray viewerCsv = call("GET", "/KORVA/v2/devices/export", s_viewer.headers()).body;
    const QByteArray oldCsv = call("GET", "/KORVA/downLoadExcel", s_operator.headers()).body;
    const QByteArray viewerOldCsv = call("GET", "/KORVA/downLoadExcel", s_viewer.headers()).body;
    ASSERT_TRUE(viewerCsv.contains(kMasked) && viewerOldCsv.contains(kMasked) &&
                oldCsv.contains(kDevId));
    const struct {
        const char* what;
        QByteArray target, body, devSN, devId;
        bool pinned;
    } imports[] = {
        {"a viewer's export", "/KORVA/v2/devices/import", viewerCsv, "SN1", kDevId, false},
        {"a viewer's old export", "/KORVA/uploadExcel?name=list.csv", viewerOldCsv, "SN1", kDevId,
         false},
        {"an old-route list", "/KORVA/uploadExcel?name=list.csv",
         QByteArray(oldCsv).replace("SN1", "SN2"), "SN2", kDevId, true},
        {"a new device ID", "/KORVA/v2/devices/import",
         QByteArray(viewerCsv).replace(kMasked, "DEV-NEW-0001"), "SN1", "DEV-NEW-0001", true},
    };
    for (const auto& import : imports) {
        const HttpResponse r = call("POST", import.target, s_operator.headers(), import.body);
        EXPECT_EQ(r.status, 200) << import.what << r.body.constData();
        const QString where = "from Tab_DeviceInfo where devSN='" + import.devSN + "'";
        EXPECT_EQ(db.value("select devId " + where).toByteArray(), import.devId) << import.what;
        EXPECT_EQ(db.value("select IdentityPinned " + where).toInt(), import.pinned) << import.what;
    }
}

TEST_F(DeviceIdExposureTest, WorkbookBombsAreRefusedWhileOthersAreServed) {
    // Each sheet or string table inflates to some 100 MB from a few hundred KiB; each is refused
    // at a limit of the import, long before.
    const struct {
        const char* what;
        const char* sharedStrings;  // Python expressions
        const char* sheet;
        bool readAtLength;  // long enough to see other requests answered meanwhile
    } bombs[] = {
        {"rows past ImportMaxRows", "''",
         "''.join('<row>' + '<c><v>1</v></c>' * 16 + '</row>' for _ in range(400000))", true},
        {"one text of 100 M characters", "'<si><t>' + 'a' * 100000000 + '</t></si>'", "''", false},
        {"millions of shared strings", "'<si><t>a</t></si>' * 6000000", "''", true},
    };
    const QString script = QStringLiteral(
        "import sys, zipfile\n"
        "z = zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED)\n"
        "ns = ' xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"'\n"
        "r = ' xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"'\n"
        "z.writestr('xl/workbook.xml', '<workbook' + ns + r + '><sheets><sheet name=\"S\" "
        "r:id=\"rId1\"/></sheets></workbook>')\n"
        "z.writestr('xl/_rels/workbook.xml.rels', '<Relationships><Relationship Id=\"rId1\" "
        "Target=\"worksheets/sheet1.xml\"/></Relationships>')\n"
        "z.writestr('xl/sharedStrings.xml', '<sst' + ns + '>' + %1 + '</sst>')\n"
        "z.writestr('xl/worksheets/sheet1.xml', '<worksheet' + ns + '><sheetData>' + %2 + "
        "'</sheetData></worksheet>')\n");
    const qint64 before = peakKiB();
    ASSERT_GT(before, 0);
    for (const auto& bomb : bombs) {
        const QString path = s_service->path("bomb.xlsx");
        const QString code =
            script.arg(QLatin1String(bomb.sharedStrings), QLatin1String(bomb.sheet));
        ASSERT_EQ(QProcess::execute("python3", {"-c", code, path}), 0) << bomb.what;
        const QByteArray body = readFile(path);
        ASSERT_LT(body.size(), 1024 * 1024) << bomb.what;

        std::atomic<bool> done{false};
        HttpResponse refused;
        std::thread preview([&] {
            refused = call("POST", "/KORVA/v2/devices/import/preview", s_operator.headers(), body);
            done = true;
        });
        // Other requests go on while the workbook is read: many answers before its refusal (one
        // or two with the request lock held).
        int answered = 0;
        while (!done) {
            const HttpResponse status = call("GET", "/KORVA/v2/status", s_viewer.headers());
            if (!done && status.status == 200) ++answered;
        }
        preview.join();
        EXPECT_EQ(refused.status, 400) << bomb.what << refused.body.constData();
        EXPECT_EQ(jsonObject(refused.body).value("error").toObject().value("code"), "bad_request")
            << bomb.what;
        EXPECT_TRUE(!bomb.readAtLength || answered >= 10) << bomb.what << ": " << answered;
    }
#ifndef __SANITIZE_ADDRESS__
    // Under ASan freed memory waits in its quarantine, so the peak says nothing of the reader.
    EXPECT_LT(peakKiB() - before, 200 * 1024);
#endif
}

}  // namespace
