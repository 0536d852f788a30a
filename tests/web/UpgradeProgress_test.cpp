// The progress lists of the management server while a simulated terminal upgrades.

#include "tests/support/WebServiceFixture.h"

namespace {

const QString kOld = QStringLiteral("V5.3.0 build220711");
const QString kNew = QStringLiteral("V5.3.1 build220711");

// The entry of a serial number in a list document, or an empty object.
QJsonObject entryOf(const QByteArray& body, const char* member, const char* key,
                    const QString& sn) {
    for (const QJsonValue& v : jsonList(body, member))
        if (v.toObject().value(key).toString() == sn) return v.toObject();
    return QJsonObject();
}

TEST(UpgradeProgressTest, ListsTheUpgradingTerminalUntilItLeaves) {
    ServiceProcess service;
    ASSERT_TRUE(service.start()) << service.output().constData();
    const QString packagePath = service.path("Package/T1/pkg.bin");
    writeFile(packagePath, patternBytes(1000));
    {
        ServiceDb db(service.path("WFS.db"));
        ASSERT_TRUE(db.exec(QStringLiteral("insert into Tab_Package(packageName,AppVersion,"
                                           "packagePath,size,deviceType) values('pkg.bin','%1',"
                                           "'%2',1000,'T1')")
                                .arg(kNew, packagePath)));
    }

    // The terminal stays at 40 % until the test ends it, however slowly the checks run.
    QProcess terminal;
    terminal.setProcessChannelMode(QProcess::MergedChannels);
    terminal.start(QStringLiteral(WAYFARER_TERMINAL),
                   {"--port", QString::number(service.tcpPort()), "--sn", "PT-1", "--type", "T1",
                    "--app", kOld, "--expect", "upgrade", "--no-download", "--progress", "40",
                    "--loop-progress", "120000", "--timeout", "10000"});
    ASSERT_TRUE(terminal.waitForStarted(5000));

    QByteArray progress;
    ASSERT_TRUE(waitUntil(
        [&] {
            progress = httpGet(service.httpPort(), "/KORVA/getProgress").body;
            return !entryOf(progress, "progressList", "deviceId", "PT-1").isEmpty();
        },
        10000))
        << progress.constData() << terminal.readAll().constData();
    EXPECT_EQ(entryOf(progress, "progressList", "deviceId", "PT-1").value("progress").toInt(), 40);
    EXPECT_EQ(jsonObject(progress).value("statusCode").toInt(), 1);

    const HttpResponse status = httpGet(service.httpPort(), "/KORVA/deviceList?uploadStatus=1");
    ASSERT_EQ(status.status, 200);
    const QJsonObject device = entryOf(status.body, "deviceInfo", "deviceNo", "PT-1");
    ASSERT_FALSE(device.isEmpty()) << status.body.constData();
    EXPECT_EQ(device.value("progress").toInt(), 40);
    EXPECT_TRUE(device.value("uploadStatus").toBool());
    EXPECT_EQ(device.value("deviceType").toString(), "T1");
    EXPECT_EQ(jsonObject(status.body).value("statusCode").toInt(), 1);

    // Still in its loop: no protocol fault has ended it.
    ASSERT_EQ(terminal.state(), QProcess::Running) << terminal.readAll().constData();
    terminal.kill();
    ASSERT_TRUE(terminal.waitForFinished(5000));

    // Once the terminal has disconnected it drops out of both lists.
    ASSERT_TRUE(waitUntil(
        [&] {
            progress = httpGet(service.httpPort(), "/KORVA/getProgress").body;
            return jsonList(progress, "progressList").isEmpty();
        },
        10000))
        << progress.constData();
    EXPECT_EQ(jsonObject(progress).value("statusCode").toInt(-1), 0);
    const HttpResponse after = httpGet(service.httpPort(), "/KORVA/deviceList?uploadStatus=1");
    EXPECT_TRUE(jsonList(after.body, "deviceInfo").isEmpty()) << after.body.constData();
    EXPECT_EQ(jsonObject(after.body).value("statusCode").toInt(-1), 0);
}

}  // namespace
