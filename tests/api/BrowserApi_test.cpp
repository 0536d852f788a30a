// Package upload, deletion, the forced-upgrade stop and the device list export and import,
// through the management server of the running service.

#include <QCryptographicHash>
#include <QDateTime>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextCodec>
#include <future>

#include "tests/support/WebServiceFixture.h"

namespace {

QString sha256Hex(const QByteArray& data) {
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
}

HttpResponse upload(quint16 port, const QByteArray& query, const QByteArray& body) {
    return httpRequest(port, "POST", "/KORVA/uploadFile?" + query, {}, body);
}

// The package list entry of a device type, or an empty object.
QJsonObject packageOfType(quint16 port, const QString& type, int* count = nullptr) {
    const HttpResponse r = httpGet(port, "/KORVA/packageList");
    EXPECT_EQ(r.status, 200);
    QJsonObject found;
    int n = 0;
    for (const QJsonValue& v : jsonList(r.body, "packageList")) {
        if (v.toObject().value("deviceType").toString() != type) continue;
        found = v.toObject();
        ++n;
    }
    if (count) *count = n;
    return found;
}

class BrowserApiTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_service = new ServiceProcess();
        ASSERT_TRUE(s_service->start()) << s_service->output().constData();
        ServiceDb db(s_service->path("WFS.db"));
        ASSERT_TRUE(db.exec(
            "insert into Tab_DeviceInfo(devId,devSN,devType,LicensePlateNumber,PhoneNumber,"
            "AppVersion,McuVersion,FourGVersion,GnssVersion,SmartModule,isAutoUpdate,ConfigCmd) "
            "values('D1','SN1','T1','P1','111','A1','M1','F1','G1','S1',1,''),"
            "('D2','SN2','T2','P2','222','A2','M2','F2','G2','S2',0,'old,cmd')"));
    }
    static void TearDownTestSuite() {
        delete s_service;
        s_service = nullptr;
    }
    static quint16 port() { return s_service->httpPort(); }

    static HttpResponse upload(const QByteArray& query, const QByteArray& body) {
        return ::upload(port(), query, body);
    }
    static QJsonObject packageOfType(const QString& type, int* count = nullptr) {
        return ::packageOfType(port(), type, count);
    }
    static QVariant column(const QString& sn, const QString& name) {
        ServiceDb db(s_service->path("WFS.db"));
        return db.value(
            QStringLiteral("select %1 from Tab_DeviceInfo where devSN='%2'").arg(name, sn));
    }

    static ServiceProcess* s_service;
};
ServiceProcess* BrowserApiTest::s_service = nullptr;

TEST_F(BrowserApiTest, BlockUploadIsListedAfterItsLastBlock) {
    const QByteArray content = patternBytes(3000, 5);
    const QByteArray base =
        "name=a.bin&app=V2&mcu=M2&fourG=F2&gnss=G2&smart=S2&type=TB&"
        "blockSize=3&totalLength=3000&uploadTime=20220711&blockIndex=";
    for (int block = 0; block < 3; ++block) {
        SCOPED_TRACE(block);
        const HttpResponse r =
            upload(base + QByteArray::number(block), content.mid(block * 1000, 1000));
        ASSERT_EQ(r.status, 200);
        EXPECT_EQ(r.reason, "OK");
        EXPECT_TRUE(r.body.isEmpty());
        int count = 0;
        packageOfType("TB", &count);
        EXPECT_EQ(count, block == 2 ? 1 : 0);
    }
    const QJsonObject package = packageOfType("TB");
    EXPECT_EQ(package.value("name").toString(), "20220711_a.bin");
    EXPECT_EQ(package.value("size").toInt(), 3000);
    EXPECT_EQ(package.value("AppVersion").toString(), "V2");
    EXPECT_EQ(package.value("McuVersion").toString(), "M2");
    EXPECT_EQ(package.value("FourGVersion").toString(), "F2");
    EXPECT_EQ(package.value("GnssVersion").toString(), "G2");
    EXPECT_EQ(package.value("SmartModule").toString(), "S2");
    EXPECT_FALSE(package.value("uploadTime").toString().isEmpty());
    EXPECT_EQ(package.value("sha256").toString(), sha256Hex(content));
    EXPECT_EQ(readFile(s_service->path("Package/TB/20220711_a.bin")), content);
    // The stored file is what the download route serves.
    EXPECT_EQ(httpGet(port(), "/KORVA/dlPackage/TB/20220711_a.bin").body, content);

    // A second upload for the type keeps the row's id and leaves the first file on disk.
    const int id = package.value("id").toInt();
    ASSERT_EQ(
        upload("name=b.bin&type=TB&blockIndex=0&blockSize=1&totalLength=7&uploadTime=2", "1234567")
            .status,
        200);
    int count = 0;
    const QJsonObject second = packageOfType("TB", &count);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(second.value("id").toInt(), id);
    EXPECT_EQ(second.value("name").toString(), "2_b.bin");
    EXPECT_EQ(second.value("size").toInt(), 7);
    EXPECT_EQ(second.value("sha256").toString(), sha256Hex("1234567"));
    EXPECT_EQ(readFile(s_service->path("Package/TB/2_b.bin")), "1234567");
    EXPECT_EQ(readFile(s_service->path("Package/TB/20220711_a.bin")), content);
}

TEST_F(BrowserApiTest, UploadWithoutTimeAndDeletionById) {
    ASSERT_EQ(upload("name=a.bin&type=TC&blockIndex=0&blockSize=1&totalLength=4", "abcd").status,
              200);
    const QJsonObject package = packageOfType("TC");
    EXPECT_EQ(package.value("name").toString(), "_a.bin");
    const QString file = s_service->path("Package/TC/_a.bin");
    EXPECT_EQ(readFile(file), "abcd");

    const QByteArray body = "{\"id\": " + QByteArray::number(package.value("id").toInt()) + "}";
    const HttpResponse removed = httpRequest(port(), "PUT", "/KORVA/deletePackage", {}, body);
    EXPECT_EQ(removed.status, 200);
    EXPECT_EQ(removed.reason, "OK");
    EXPECT_FALSE(QFile::exists(file));
    int count = -1;
    packageOfType("TC", &count);
    EXPECT_EQ(count, 0);

    for (const QByteArray& refused :
         {body, QByteArray("{\"id\": 99999}"), QByteArray("{\"id\": \"1\"}"), QByteArray("{}"),
          QByteArray("not json"), QByteArray()}) {
        SCOPED_TRACE(refused.constData());
        const HttpResponse r = httpRequest(port(), "PUT", "/KORVA/deletePackage", {}, refused);
        EXPECT_EQ(r.status, 501);
        EXPECT_EQ(r.reason, "not implemented");
    }
}

TEST_F(BrowserApiTest, IncompleteUploadParametersAreRefused) {
    const QByteArray queries[] = {
        "name=a.bin&blockIndex=0&blockSize=1&totalLength=4",          // no type
        "type=TD&blockIndex=0&blockSize=0&totalLength=4",             // no blocks
        "name=a.bin&type=TD&blockIndex=0&blockSize=1&totalLength=0",  // no length
        "name=a.bin&type=TD&blockIndex=0&blockSize=x&totalLength=4",  // not a number
    };
    for (const QByteArray& query : queries) {
        SCOPED_TRACE(query.constData());
        const HttpResponse r = upload(query, "abcd");
        EXPECT_EQ(r.status, 501);
        EXPECT_EQ(r.reason, "not implemented");
    }
    int count = -1;
    packageOfType("TD", &count);
    EXPECT_EQ(count, 0);
}

// Files whose name holds "evil" anywhere under the application directory but outside Package/.
QStringList evilFilesOutsidePackages(const QString& appDir) {
    QStringList found;
    QDirIterator it(appDir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(appDir).relativeFilePath(path);
        if (relative.contains("evil") && !relative.startsWith("Package/")) found << relative;
    }
    return found;
}

TEST_F(BrowserApiTest, UploadNamesThatLeaveThePackageDirectoryAreRefused) {
    const QByteArray tail = "&blockIndex=0&blockSize=1&totalLength=4";
    const QByteArray queries[] = {
        "name=../evil.bin&type=TE",
        "name=..%2F..%2Fevil.bin&type=TE",
        "name=%2e%2e%2fevil.bin&type=TE",
        "name=sub/evil.bin&type=TE",
        "name=sub%5Cevil.bin&type=TE",
        "name=evil.bin&type=..",
        "name=evil.bin&type=../TE",
        "name=evil.bin&type=%2e%2e%2f%2e%2e",
        "name=evil.bin&type=TE/x",
        "name=evil.bin&type=TE%5Cx",
        "name=evil.bin&type=TE&uploadTime=..%2F..",
        "name=evil.bin&type=TE&uploadTime=2022/07",
        "name=evil.bin&type=TE&uploadTime=%2Ftmp",
    };
    for (const QByteArray& query : queries) {
        SCOPED_TRACE(query.constData());
        const HttpResponse r = upload(query + tail, "evil");
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.status, 501);
        EXPECT_EQ(r.reason, "not implemented");
    }
    EXPECT_EQ(evilFilesOutsidePackages(s_service->appDir()), QStringList());
    EXPECT_FALSE(QFile::exists("/tmp/evil.bin"));
    int count = -1;
    packageOfType("TE", &count);
    EXPECT_EQ(count, 0);
    // A plain upload for the same type still works.
    EXPECT_EQ(upload("name=ok.bin&type=TE" + tail, "good").status, 200);
}

// Re-uploading a package under its own name: a terminal downloading the old file keeps it,
// and until the last block every new request still gets the old one, never half of the new.
TEST_F(BrowserApiTest, AnUploadReplacesALivePackageOnlyAtItsLastBlock) {
    const QByteArray old = patternBytes(3000, 1);
    ASSERT_EQ(upload("name=live.bin&type=TR&uploadTime=1&blockIndex=0&blockSize=1&"
                     "totalLength=3000",
                     old)
                  .status,
              200);
    const QString file = s_service->path("Package/TR/1_live.bin");
    QFile downloading(file);
    ASSERT_TRUE(downloading.open(QIODevice::ReadOnly));

    const QByteArray fresh = patternBytes(5000, 2);
    const QByteArray query =
        "name=live.bin&type=TR&uploadTime=1&blockSize=2&totalLength=5000&blockIndex=";
    ASSERT_EQ(upload(query + "0", fresh.left(2500)).status, 200);
    EXPECT_EQ(readFile(file), old);
    EXPECT_EQ(httpGet(port(), "/KORVA/dlPackage/TR/1_live.bin").body, old);
    EXPECT_EQ(packageOfType("TR").value("sha256").toString(), sha256Hex(old));
    // The upload's own file is there, but never served.
    EXPECT_TRUE(QFile::exists(s_service->path("Package/TR/.1_live.bin.part")));
    EXPECT_NE(httpGet(port(), "/KORVA/dlPackage/TR/.1_live.bin.part").status, 200);

    ASSERT_EQ(upload(query + "1", fresh.mid(2500)).status, 200);
    EXPECT_EQ(readFile(file), fresh);
    EXPECT_EQ(downloading.readAll(), old);
    const QJsonObject package = packageOfType("TR");
    EXPECT_EQ(package.value("size").toInt(), 5000);
    EXPECT_EQ(package.value("sha256").toString(), sha256Hex(fresh));
    EXPECT_FALSE(QFile::exists(s_service->path("Package/TR/.1_live.bin.part")));
}

// Uploads refused with the route's failure reply, leaving no file behind: the terminal's
// address "http://<NetIP>:<HttpPort2>/KORVA/dlPackage/<type>/<name>" must fit its 128 bytes.
TEST_F(BrowserApiTest, UploadsRefusedWithNothingLeftBehind) {
    const QByteArray prefix =
        "http://127.0.0.1:" + QByteArray::number(s_service->httpPort2()) + "/KORVA/dlPackage/TU/1_";
    const QByteArray fits = QByteArray(128 - prefix.size(), 'n');
    QTemporaryDir outside;
    ASSERT_TRUE(QDir().mkpath(s_service->path("Package/TU")));
    ASSERT_TRUE(QFile::link(outside.path(), s_service->path("Package/TL")));
    const QByteArray one = "&uploadTime=1&blockIndex=0&blockSize=1&totalLength=4";
    struct Case {
        const char* label;
        QByteArray query;
        int status;
    };
    const Case cases[] = {
        {"address of 128 bytes", "type=TU&name=" + fits + one, 200},
        {"address of 129 bytes", "type=TU&name=" + fits + "n" + one, 501},
        {"fewer bytes than announced",
         "type=TU&name=short.bin&uploadTime=1&blockIndex=0&blockSize=1&totalLength=5", 501},
        {"a later block without the first",
         "type=TU&name=late.bin&uploadTime=1&blockIndex=1&blockSize=2&totalLength=8", 501},
        {"an upload's temporary name",
         "type=TU&name=x.part&uploadTime=.1&blockIndex=0&blockSize=1&totalLength=4", 501},
        {"a type directory that is a link", "type=TL&name=l.bin" + one, 501},
    };
    for (const Case& c : cases) {
        const HttpResponse r = upload(c.query, "abcd");
        ASSERT_TRUE(r.ok) << c.label;
        EXPECT_EQ(r.status, c.status) << c.label;
        EXPECT_EQ(r.reason, c.status == 200 ? "OK" : "not implemented") << c.label;
    }
    EXPECT_EQ(QDir(s_service->path("Package/TU")).entryList(QDir::Files | QDir::Hidden),
              QStringList{QString("1_" + fits)});
    EXPECT_EQ(packageOfType("TU").value("name").toString(), QString("1_" + fits));
    EXPECT_TRUE(QDir(outside.path()).isEmpty());
    int count = -1;
    packageOfType("TL", &count);
    EXPECT_EQ(count, 0);
}

TEST_F(BrowserApiTest, StopUploadSucceedsWhileDevicesExist) {
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const HttpResponse r = httpRequest(port(), "PUT", "/KORVA/stopUpload");
        EXPECT_EQ(r.status, 200);
        EXPECT_EQ(r.reason, "OK");
        EXPECT_EQ(column("SN1", "isAutoUpdate").toInt(), 0);
    }
}

QTextCodec* gbk() {
    return QTextCodec::codecForName("GBK");
}

HttpResponse exportList(quint16 port) {
    return httpGet(port, "/KORVA/downLoadExcel");
}

TEST_F(BrowserApiTest, ExportImportRoundTripsEveryColumn) {
    const HttpResponse exported = exportList(port());
    ASSERT_EQ(exported.status, 200);
    EXPECT_EQ(exported.reason, "OK");
    EXPECT_EQ(exported.header("Content-Type"), "text/csv; charset=GBK");
    const QByteArray disposition = exported.header("Content-Disposition");
    EXPECT_TRUE(disposition.startsWith("attachment;filename=device information list{"))
        << disposition.constData();
    EXPECT_TRUE(disposition.endsWith("}.csv")) << disposition.constData();
    EXPECT_EQ(exported.headerCount("Content-Range"), 1);
    // GBK on disk: the titles are not in UTF-8.
    EXPECT_TRUE(exported.body.contains(gbk()->fromUnicode(QStringLiteral("设备序列号"))));
    EXPECT_FALSE(exported.body.contains(QStringLiteral("设备序列号").toUtf8()));

    QStringList lines = gbk()->toUnicode(exported.body).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3) << exported.body.constData();
    // Edit the request columns of SN2 and a Chinese plate, as an operator would.
    for (QString& line : lines) {
        if (!line.startsWith("D2,SN2,")) continue;
        line = QStringLiteral("D2,SN2,T2,京A12345,222,A2,M2,F2,G2,S2,1,\"set,x=1\",1,0,1,1,");
    }
    lines << QStringLiteral(",,T9,P9,999,A9,M9,F9,G9,S9,1,,1,1,1,1,");  // no serial: skipped
    const QByteArray edited = gbk()->fromUnicode(lines.join('\n') + '\n');
    const HttpResponse imported =
        httpRequest(port(), "POST", "/KORVA/uploadExcel?name=list.csv", {}, edited);
    ASSERT_EQ(imported.status, 200);
    EXPECT_EQ(imported.reason, "OK");

    EXPECT_EQ(column("SN2", "isAutoUpdate").toInt(), 1);
    EXPECT_EQ(column("SN2", "ConfigCmd").toString(), "set,x=1");
    EXPECT_EQ(column("SN2", "GetLogFile").toInt(), 1);
    EXPECT_EQ(column("SN2", "GetIndexFile").toInt(), 0);
    EXPECT_EQ(column("SN2", "GetPrintFile").toInt(), 1);
    EXPECT_EQ(column("SN2", "GetRunInfoFile").toInt(), 1);
    const QJsonArray devices = jsonList(httpGet(port(), "/KORVA/deviceList").body, "deviceInfo");
    ASSERT_EQ(devices.size(), 2);  // the row without serial was skipped
    for (const QJsonValue& v : devices) {
        const QJsonObject d = v.toObject();
        if (d.value("deviceNo").toString() != "SN2") continue;
        EXPECT_EQ(d.value("plateNo").toString(), QStringLiteral("京A12345"));
        EXPECT_EQ(d.value("deviceId").toString(), "D2");
        EXPECT_EQ(d.value("deviceType").toString(), "T2");
        EXPECT_EQ(d.value("phone").toString(), "222");
        EXPECT_EQ(d.value("AppVersion").toString(), "A2");
        EXPECT_EQ(d.value("McuVersion").toString(), "M2");
        EXPECT_EQ(d.value("FourGVersions").toString(), "F2");
        EXPECT_EQ(d.value("GnssVersions").toString(), "G2");
        EXPECT_EQ(d.value("SmartModule").toString(), "S2");
    }
    // Exported again, the file is the edited one without the skipped row.
    lines.removeLast();
    const HttpResponse again = exportList(port());
    ASSERT_EQ(again.status, 200);
    EXPECT_EQ(gbk()->toUnicode(again.body), lines.join('\n') + '\n');
    // The import leaves no file behind.
    EXPECT_EQ(QDir(s_service->path("Excel")).entryList({"import*"}, QDir::Files), QStringList());
}

TEST_F(BrowserApiTest, ImportRefusesOtherFilesAndLeavesNothingBehind) {
    const QByteArray good = exportList(port()).body;
    ASSERT_FALSE(good.isEmpty());
    QByteArray badHeader = good;
    badHeader.replace(gbk()->fromUnicode(QStringLiteral("设备序列号")), "serial");
    const struct {
        const char* target;
        QByteArray body;
    } cases[] = {
        {"/KORVA/uploadExcel?name=list.xlsx", good},
        {"/KORVA/uploadExcel?name=list.csv&x=1", good},
        {"/KORVA/uploadExcel", good},
        {"/KORVA/uploadExcel?name=list.csv", badHeader},
        {"/KORVA/uploadExcel?name=list.csv", QByteArray()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        const HttpResponse r = httpRequest(port(), "POST", c.target, {}, c.body);
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.status, 501);
        EXPECT_EQ(r.reason, "not implemented");
        EXPECT_EQ(QDir(s_service->path("Excel")).entryList({"import*"}, QDir::Files),
                  QStringList());
    }
}

// A service whose import limits are small: a file beyond any of them is refused whole, and the
// paced saves of one within them leave the other routes answering.
TEST(ImportLimitsTest, OverLimitFilesAreRefusedAndAnImportDoesNotHoldUpOthers) {
    ServiceProcess service;
    service.setParam("ImportMaxRows", 40);
    service.setParam("ImportMaxCells", 20);
    service.setParam("ImportMaxBytes", 8192);
    ASSERT_TRUE(service.start()) << service.output().constData();
    const QByteArray title = exportList(service.httpPort()).body.split('\n').first();
    ASSERT_FALSE(title.isEmpty());
    auto listOf = [&](int rows, const QByteArray& prefix, int extraCells = 0) {
        QByteArray csv = title + '\n';
        for (int i = 0; i < rows; ++i)
            csv += "D," + prefix + QByteArray::number(i) + ",T,P,1,A,M,F,G,S,0,,0,0,0,0" +
                   QByteArray(extraCells, ',') + '\n';
        return csv;
    };
    auto imported = [&](const QByteArray& prefix) {
        ServiceDb db(service.path("WFS.db"));
        return db.value("select count(*) from Tab_DeviceInfo where devSN like '" + prefix + "%'")
            .toInt();
    };
    const struct {
        const char* name;
        QByteArray body;
    } refused[] = {
        {"rows", listOf(41, "R")},
        {"cells", listOf(1, "C", 5)},
        {"bytes", listOf(1, "B") + QByteArray(8192, '\n')},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.name);
        const HttpResponse r =
            httpRequest(service.httpPort(), "POST", "/KORVA/uploadExcel?name=l.csv", {}, c.body);
        EXPECT_EQ(r.status, 501);
        EXPECT_EQ(imported(QByteArray(c.name).left(1).toUpper()), 0);
    }

    // 40 rows take two seconds of pacing; the device list answers while they are saved.
    auto running = std::async(std::launch::async, [&] {
        return httpRequest(service.httpPort(), "POST", "/KORVA/uploadExcel?name=l.csv", {},
                           listOf(40, "OK"), 30000);
    });
    ASSERT_TRUE(waitUntil([&] { return imported("OK") > 0; }, 10000));
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(httpGet(service.httpPort(), "/KORVA/deviceList").status, 200);
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_LT(imported("OK"), 40);  // the import was still going on
    EXPECT_EQ(running.get().status, 200);
    EXPECT_EQ(imported("OK"), 40);
}

}  // namespace

namespace {

// An upload goes on across a restart of the service between its blocks (its digest is then
// taken from the file); uploads broken off long ago are cleared at start-up; an upload's file
// is never served.
TEST(UploadRestartTest, AnUploadGoesOnAcrossARestart) {
    ServiceProcess service;
    ASSERT_TRUE(service.start()) << service.output().constData();
    const QByteArray content = patternBytes(3000, 3);
    const QByteArray query =
        "name=up.bin&type=TS&uploadTime=1&blockSize=3&totalLength=3000&blockIndex=";
    for (int block = 0; block < 2; ++block)
        ASSERT_EQ(upload(service.httpPort(), query + QByteArray::number(block),
                         content.mid(block * 1000, 1000))
                      .status,
                  200);
    const QString stale = service.path("Package/TS/.1_gone.bin.part");
    writeFile(stale, "stale");
    {
        QFile stamp(stale);
        ASSERT_TRUE(stamp.open(QIODevice::ReadWrite));
        ASSERT_TRUE(stamp.setFileTime(QDateTime::currentDateTime().addSecs(-7200),
                                      QFileDevice::FileModificationTime));
    }

    service.stop();
    ASSERT_TRUE(service.start()) << service.output().constData();
    EXPECT_FALSE(QFile::exists(stale));
    EXPECT_NE(httpGet(service.httpPort(), "/KORVA/dlPackage/TS/.1_up.bin.part").status, 200);
    int count = -1;
    packageOfType(service.httpPort(), "TS", &count);
    EXPECT_EQ(count, 0);

    ASSERT_EQ(upload(service.httpPort(), query + "2", content.mid(2000)).status, 200);
    EXPECT_EQ(readFile(service.path("Package/TS/1_up.bin")), content);
    EXPECT_EQ(packageOfType(service.httpPort(), "TS").value("sha256").toString(),
              sha256Hex(content));
}

}  // namespace
