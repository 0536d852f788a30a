// Upgrades, rollout and files as the console sees them, with terminals played by the simulator
// and over raw sockets against the running service.
#include <QDateTime>
#include <QTemporaryDir>
#include <QUrl>

#include "tests/api/ConsoleFixture.h"

namespace {

const QString kOld = QStringLiteral("V5.3.0 build220711");
const QString kNew = QStringLiteral("V5.3.1 build220711");

DeviceReport terminal(const QString& sn, const QString& app) {
    DeviceReport identity;
    identity.devSN = sn;
    identity.devType = "T1";
    identity.AppVersion = app;
    return identity;
}

QJsonObject firstItem(const QJsonObject& page) {
    return page.value("items").toArray().first().toObject();
}

class ConsoleUpgradesTest : public ConsoleTest {};

TEST_F(ConsoleUpgradesTest, HistoryAndRolloutThroughCompletionAndStall) {
    m_service.setParam("UpgradeStallMinutes", "0.02");  // 1.2 s
    ASSERT_TRUE(startService()) << m_service.output().constData();
    // C reported before there was a package and is still connected.
    const auto c = report(terminal("C", kOld));
    ASSERT_TRUE(c);
    seed("devSN,devType,AppVersion", {"'D','T1','" + kOld + "'", "'E','T1','" + kNew + "'",
                                      "'F','T2','" + kOld + "'", "'G','T1','" + kOld + "'"});
    addPackage("T1", "pkg.bin", kNew, 20000);
    const int packageId = m_db->value("select id from Tab_Package").toInt();
    // G is still downloading: its last progress lies ahead of any stall time.
    ASSERT_TRUE(m_db->exec(QStringLiteral("insert into Tab_UpgradeAttempt(devSN,packageId,"
                                          "packageName,startedAt,lastProgressAt) values('G',%1,"
                                          "'pkg.bin',1,4000000000)")
                               .arg(packageId)));

    QString output;
    ASSERT_TRUE(
        runTerminal({"--sn", "A", "--type", "T1", "--app", kOld, "--expect", "upgrade"}, output))
        << output.toStdString();
    // A's last report is handled before B begins, so only B can go quiet for the stall time.
    ASSERT_TRUE(waitUntil(
        [&] { return firstItem(get("/KORVA/v2/upgrades?devSN=A")).value("state") == "completed"; },
        10000));
    ASSERT_TRUE(runTerminal({"--sn", "B", "--type", "T1", "--app", kOld, "--expect", "upgrade",
                             "--no-download", "--progress", "40"},
                            output))
        << output.toStdString();

    QJsonObject stalled;
    ASSERT_TRUE(waitUntil(
        [&] {
            stalled = get("/KORVA/v2/upgrades?state=stalled");
            return stalled.value("total").toInt() == 1;
        },
        10000));
    EXPECT_EQ(firstItem(stalled).value("devSN").toString(), "B");
    EXPECT_EQ(firstItem(stalled).value("lastProgress").toInt(), 40);
    EXPECT_TRUE(firstItem(stalled).value("stalled").toBool());

    const QJsonObject done = firstItem(get("/KORVA/v2/upgrades?devSN=A"));
    EXPECT_EQ(done.value("state").toString(), "completed");
    EXPECT_EQ(done.value("lastProgress").toInt(), 100);
    EXPECT_GE(done.value("completedAt").toInt(), done.value("startedAt").toInt());
    EXPECT_EQ(done.value("fromAppVersion").toString(), kOld);
    EXPECT_EQ(done.value("packageName").toString(), "pkg.bin");
    EXPECT_TRUE(done.value("url").toString().endsWith("/KORVA/dlPackage/T1/pkg.bin"));
    EXPECT_EQ(
        get("/KORVA/v2/upgrades?packageId=" + QByteArray::number(packageId)).value("total").toInt(),
        3);
    EXPECT_EQ(serials(get("/KORVA/v2/devices?upgradeState=stalled")), QStringList{"B"});

    const QByteArray rollout = "/KORVA/v2/packages/" + QByteArray::number(packageId) + "/rollout";
    const auto counts = [&] { return get(rollout).value("counts").toObject(); };
    const QJsonObject expected{{"onVersion", 1},   {"wouldUpgrade", 1}, {"held", 0},
                               {"downloading", 1}, {"installing", 1},   {"done", 0},
                               {"stalled", 1},     {"offline", 1}};
    EXPECT_EQ(counts(), expected);
    EXPECT_EQ(get(rollout).value("total").toInt(), 6);
    EXPECT_EQ(serials(get(rollout + "/offline")), QStringList{"D"});
    EXPECT_EQ(serials(get(rollout + "/wouldUpgrade")), QStringList{"C"});
    json("GET", rollout + "/nope", {}, 404);

    // A comes back with the new version: its upgrade is done.
    const auto a = report(terminal("A", kNew));
    ASSERT_TRUE(a);
    QJsonObject after = expected;
    after["installing"] = 0;
    after["done"] = 1;
    EXPECT_EQ(counts(), after);
    const QJsonObject one = get("/KORVA/v2/devices/A");
    EXPECT_TRUE(one.value("device")["online"].toBool());
    EXPECT_EQ(one.value("upgrades")[0]["state"].toString(), "completed");

    // B reports again and is handed the package anew: the stalled attempt is superseded.
    const auto b = report(terminal("B", kOld));
    ASSERT_TRUE(b);
    QStringList states;
    for (const QJsonValue& attempt : get("/KORVA/v2/upgrades?devSN=B").value("items").toArray())
        states << attempt["state"].toString();
    EXPECT_EQ(states, QStringList({"running", "superseded"}));
}

TEST_F(ConsoleUpgradesTest, InstallThatDidNotTakeIsShownAsSuchEverywhere) {
    ASSERT_TRUE(startService()) << m_service.output().constData();
    const qint32 earlier = 1600000000;
    seed("devSN,devType,AppVersion,UpgradeCompletionTime",
         {"'R','T1','" + kOld + "'," + QString::number(earlier)});
    addPackage("T1", "pkg.bin", kNew, 5000);
    QString output;
    ASSERT_TRUE(
        runTerminal({"--sn", "R", "--type", "T1", "--app", kOld, "--expect", "upgrade"}, output))
        << output.toStdString();
    const auto stored = [&] {
        return m_db->value("select UpgradeCompletionTime from Tab_DeviceInfo where devSN='R'")
            .toInt();
    };
    ASSERT_TRUE(waitUntil([&] { return stored() > earlier; }, 10000));
    const QString claimed = QDateTime::fromSecsSinceEpoch(stored()).toString("yyyy-MM-dd hh:mm:ss");

    // It comes back on the version it had: offered again, its 100 was no completion.
    const auto back = report(terminal("R", kOld));
    ASSERT_TRUE(back);
    EXPECT_EQ(stored(), earlier);
    const QJsonArray attempts = get("/KORVA/v2/devices/R").value("upgrades").toArray();
    ASSERT_EQ(attempts.size(), 2);
    EXPECT_EQ(attempts[0]["state"].toString(), "running");
    EXPECT_EQ(attempts[1]["state"].toString(), "reverted");
    EXPECT_EQ(attempts[1]["outcome"].toString(), "reverted");
    EXPECT_EQ(get("/KORVA/v2/upgrades?state=reverted").value("total").toInt(), 1);
    EXPECT_EQ(get("/KORVA/v2/upgrades?state=completed").value("total").toInt(), 0);
    EXPECT_TRUE(serials(get("/KORVA/v2/devices?upgradeState=completed")).isEmpty());
    EXPECT_EQ(get("/KORVA/v2/devices/R").value("device")["UpgradeCompletionTime"].toInt(), earlier);
    const QByteArray legacy = call("GET", "/KORVA/deviceList").body;
    EXPECT_TRUE(legacy.contains(
        QDateTime::fromSecsSinceEpoch(earlier).toString("yyyy-MM-dd hh:mm:ss").toUtf8()));
    EXPECT_FALSE(legacy.contains(claimed.toUtf8()));
}

TEST_F(ConsoleUpgradesTest, PresenceFollowsConnectionsAndStartUp) {
    ASSERT_TRUE(startService()) << m_service.output().constData();
    const auto online = [&](const QString& sn) {
        return get("/KORVA/v2/devices/" + sn.toLatin1()).value("device")["online"].toBool();
    };
    DeviceReport x = terminal("X", kOld);
    x.LicensePlateNumber = "京A11111";
    auto first = report(x);
    ASSERT_TRUE(first);
    // The same terminal on a second connection, with a new plate.
    x.LicensePlateNumber = "京B22222";
    auto second = report(x);
    ASSERT_TRUE(second);
    EXPECT_EQ(serials(get("/KORVA/v2/devices?q=B222")), QStringList{"X"});
    EXPECT_EQ(serials(get("/KORVA/v2/devices?q=A111")), QStringList());

    // The first connection closes; Y comes and goes after it, so once Y is offline that close
    // has been handled too: it must not take X offline.
    first->close();
    {
        const auto y = report(terminal("Y", kOld));
        ASSERT_TRUE(y);
        EXPECT_TRUE(online("Y"));
    }
    ASSERT_TRUE(waitUntil([&] { return !online("Y"); }, 10000));
    EXPECT_TRUE(online("X"));
    second->close();
    ASSERT_TRUE(waitUntil([&] { return !online("X"); }, 10000));

    // A restart forgets this instance's connections, never another instance's.
    const auto z = report(terminal("Z", kOld));
    ASSERT_TRUE(z);
    ASSERT_TRUE(
        m_db->exec("insert into Tab_DevicePresence(devSN,instance,connectedSince,"
                   "lastReport,peerAddress) values('X','elsewhere:1',1,2,'')"));
    m_service.stop();
    ASSERT_TRUE(m_service.start()) << m_service.output().constData();
    EXPECT_FALSE(online("Z"));
    EXPECT_TRUE(online("X"));
    EXPECT_EQ(get("/KORVA/v2/devices/X").value("device")["presence"]["instance"].toString(),
              "elsewhere:1");
}

TEST_F(ConsoleUpgradesTest, CollectedFilesAndPackagesDownloadWithRanges) {
    ASSERT_TRUE(startService()) << m_service.output().constData();
    seed("devSN,devType,GetLogFile", {"'F1','T1',1"});
    QTemporaryDir local;
    const QByteArray content = patternBytes(3000);
    writeFile(local.filePath("trip.log"), content);
    QString output;
    ASSERT_TRUE(runTerminal({"--sn", "F1", "--type", "T1", "--expect", "none", "--file",
                             "1=" + local.filePath("trip.log")},
                            output))
        << output.toStdString();

    QJsonObject file;
    ASSERT_TRUE(waitUntil(
        [&] {
            file = firstItem(get("/KORVA/v2/devices/F1/files"));
            return file.value("size").toInt() == content.size();
        },
        5000));
    EXPECT_EQ(file.value("type").toString(), "log");
    EXPECT_EQ(file.value("name").toString(), "trip.log");
    EXPECT_EQ(file.value("reportTime").toString().size(), 12);
    EXPECT_EQ(get("/KORVA/v2/devices/F1").value("files").toArray().size(), 1);

    const QByteArray download = file.value("download").toString().toLatin1();
    const struct {
        QByteArray range;
        int status;
        QByteArray contentRange;
        QByteArray body;
    } ranges[] = {
        {"", 200, "", content},
        {"bytes=100-199", 206, "bytes 100-199/3000", content.mid(100, 100)},
        {"bytes=-10", 206, "bytes 2990-2999/3000", content.right(10)},
        {"bytes=2990-5000", 206, "bytes 2990-2999/3000", content.right(10)},
        {"bytes=3000-", 416, "bytes */3000", ""},
        {"bytes=0-1,5-6", 200, "", content},
    };
    for (const auto& r : ranges) {
        QList<QPair<QByteArray, QByteArray>> headers;
        if (!r.range.isEmpty()) headers.append({"Range", r.range});
        const HttpResponse reply = call("GET", download, {}, headers);
        EXPECT_EQ(reply.status, r.status) << r.range.constData();
        EXPECT_EQ(reply.header("Content-Range"), r.contentRange) << r.range.constData();
        EXPECT_EQ(reply.body, r.body) << r.range.constData();
        EXPECT_EQ(reply.header("Accept-Ranges"), "bytes");
        if (r.status != 416) {
            EXPECT_EQ(reply.header("Content-Disposition"), "attachment; filename=\"trip.log\"");
        }
    }
    const QString time = file.value("reportTime").toString();
    for (const QString& target :
         QStringList{"/KORVA/v2/devices/F1/files/nope/" + time + "/trip.log",
                     "/KORVA/v2/devices/F1/files/log/" + time + "/other.log",
                     "/KORVA/v2/devices/../files/log/" + time + "/trip.log",
                     "/KORVA/v2/devices/F1/files/log/..%2F..%2F/config.ini",
                     "/KORVA/v2/devices/F1/files/log/" + time + "/..%2F..%2F..%2Fconfig.ini"})
        EXPECT_EQ(call("GET", target.toUtf8()).status, 404) << target.toStdString();

    addPackage("T1", "升级包.bin", kNew, 5000);
    const QJsonObject package = get("/KORVA/v2/packages").value("items")[0].toObject();
    EXPECT_TRUE(package.value("fileExists").toBool());
    const HttpResponse whole = call("GET", package.value("download").toString().toLatin1());
    EXPECT_EQ(whole.status, 200);
    EXPECT_EQ(whole.body, patternBytes(5000));
    EXPECT_EQ(whole.header("Content-Disposition"),
              "attachment; filename=\"___.bin\"; "
              "filename*=UTF-8''%E5%8D%87%E7%BA%A7%E5%8C%85.bin");
    const HttpResponse part = call("GET", package.value("download").toString().toLatin1(), {},
                                   {{"Range", "bytes=4990-"}});
    EXPECT_EQ(part.status, 206);
    EXPECT_EQ(part.body, patternBytes(5000).right(10));
    EXPECT_EQ(call("GET", "/KORVA/v2/packages/999/file").status, 404);
}

TEST_F(ConsoleUpgradesTest, HistoryAndAuditFoundByPartsAndRanges) {
    ASSERT_TRUE(startService()) << m_service.output().constData();
    // The plate of SN-200 holds "ab1", as does SN-AB1's serial: only the serial counts.
    seed("devSN,devType,LicensePlateNumber",
         {"'SN-AB1','T1',''", "'SN-ab12','T2',''", "'SN-200','T1','京ab1'", "'X_1','T1',''"});
    for (const char* row : {"'SN-AB1','T1',1,1000", "'SN-ab12','T2',1,2000", "'SN-200','T1',2,3000",
                            "'X_1','T1',2,4000", "'GONE','T1',1,5000"})
        ASSERT_TRUE(m_db->exec(
            QStringLiteral("insert into Tab_UpgradeAttempt(devSN,devType,packageId,startedAt) "
                           "values(%1)")
                .arg(row)));
    const struct {
        QByteArray query;
        QStringList serials;
    } cases[] = {
        {"devSNContains=ab1", {"SN-ab12", "SN-AB1"}},
        {"devSNContains=B12", {"SN-ab12"}},
        {"devSNContains=_", {"X_1"}},
        {"devSNContains=%25", {}},
        {"devType=T2", {"SN-ab12"}},
        {"packageId=2&devType=T1", {"X_1", "SN-200"}},
        {"from=2000&to=4000", {"SN-200", "SN-ab12"}},
        {"from=4000", {"GONE", "X_1"}},
        {"devSNContains=SN&to=2000", {"SN-AB1"}},
    };
    for (const auto& c : cases) {
        const QJsonObject page = get("/KORVA/v2/upgrades?" + c.query);
        EXPECT_EQ(serials(page), c.serials) << c.query.constData();
        EXPECT_EQ(page.value("total").toInt(), c.serials.size()) << c.query.constData();
    }
    for (const QByteArray bad : {"from=x", "from=-1", "from=5&to=5"})
        json("GET", "/KORVA/v2/upgrades?" + bad, {}, 400);

    ASSERT_TRUE(
        m_db->exec("insert into Tab_AuditLog(at,account,address,route,action,summary) "
                   "values(1000000,'a','','','login',''),(2000000,'a','','','logout','')"));
    const auto actions = [&](const QByteArray& query) {
        QStringList found;
        for (const QJsonValue& e : get("/KORVA/v2/audit?account=a&" + query)["entries"].toArray())
            found << e["action"].toString();
        return found;
    };
    EXPECT_EQ(actions("from=1000&to=2000"), QStringList{"login"});
    EXPECT_EQ(actions("from=1001"), QStringList{"logout"});
    EXPECT_EQ(actions(""), QStringList({"logout", "login"}));
    EXPECT_EQ(call("GET", "/KORVA/v2/audit.csv?to=x").status, 400);
}

}  // namespace
