// Staged rollouts against the running service: terminals played over raw sockets, plans set and
// changed through the v2 routes, what each report was decided read back from the API.
#include <QTime>

#include "files/CsvOpt.h"
#include "tests/api/ConsoleFixture.h"
#include "tests/support/JsonSchemaCheck.h"
#include "tests/support/TerminalConnection.h"

namespace {

const QString kOld = QStringLiteral("V5.3.0 build220711");
const QString kNew = QStringLiteral("V5.3.1 build220711");

DeviceReport terminal(const QString& sn, const QString& app, const QString& type = "T1") {
    DeviceReport identity;
    identity.devSN = sn;
    identity.devType = type;
    identity.AppVersion = app;
    return identity;
}

class ConsoleRolloutTest : public ConsoleTest {
  protected:
    // One report on a new connection; flag is the answer's upgrade flag, -1 without an answer.
    // The connection stays open in link: an offered terminal's download goes on there.
    struct Reported {
        int flag = -1;
        std::unique_ptr<TerminalConnection> link;
    };
    Reported reportOnce(const DeviceReport& identity, const QByteArray& devId = {}) {
        Reported out;
        out.link = std::make_unique<TerminalConnection>(
            m_service.tcpPort(), devId.isEmpty() ? identity.devSN.toUtf8() : devId);
        if (!out.link->connected() || !out.link->report(identity)) return out;
        const SocketPacket answer = out.link->next();
        quint32 flag = 0;
        QString url;
        if (answer.cmd == 0x0001 && TerminalPackets::parseUpgradeAnswer(answer.data, flag, url))
            out.flag = static_cast<int>(flag);
        return out;
    }

    // An offered terminal's download ends: the poll answered with 100, stored before it goes.
    bool finishDownload(TerminalConnection& link, const QString& sn) {
        if (link.next().cmd != 0x0002 || !link.send(0x0002, TerminalPackets::progressBody(100)))
            return false;
        link.close();
        return waitUntil([&] { return completed(sn); }, 10000);
    }
    bool completed(const QString& sn) {
        return m_db->value(
                       "select count(*) from Tab_UpgradeAttempt where isCurrent<>0 and "
                       "completedAt>0 and devSN='" +
                       sn + "'")
                   .toInt() == 1;
    }

    // Offered, downloads, installs and comes back on a new connection reporting app: the first
    // report after 100 judges the upgrade. The flag answered to that report, -1 on a fault.
    int upgradeAndReturn(const DeviceReport& identity, const QString& app) {
        Reported offered = reportOnce(identity);
        if (offered.flag != 1 || !finishDownload(*offered.link, identity.devSN)) return -1;
        DeviceReport back = identity;
        back.AppVersion = app;
        return reportOnce(back).flag;
    }

    QByteArray planPath(int packageId, const QByteArray& tail = {}) {
        return "/KORVA/v2/packages/" + QByteArray::number(packageId) + "/plan" + tail;
    }
    int packageId(const QString& type) {
        return m_db->value("select id from Tab_Package where deviceType='" + type + "'").toInt();
    }
    QJsonObject decision(const QString& sn) {
        return get("/KORVA/v2/devices/" + sn.toUtf8()).value("decision").toObject();
    }
    QJsonArray audit(const QString& action) {
        return get("/KORVA/v2/audit?action=" + action.toUtf8()).value("entries").toArray();
    }
    static QByteArray body(const QJsonObject& object) {
        return QJsonDocument(object).toJson(QJsonDocument::Compact);
    }
};

TEST_F(ConsoleRolloutTest, TwoHundredTerminalsAdvanceThroughTheStages) {
    m_service.setParam("RolloutCheckSeconds", "0.2");
    m_service.setParam("MaxConnCount", 500);  // a stage's downloads are held open together
    ASSERT_TRUE(startService()) << m_service.output().constData();
    QStringList all;
    QStringList rows;
    for (int i = 1; i <= 200; ++i) {
        all << QStringLiteral("R%1").arg(i, 3, 10, QLatin1Char('0'));
        rows << "'" + all.last() + "','T1','" + kOld + "'";
    }
    seed("devSN,devType,AppVersion", rows);
    addPackage("T1", "stage.bin", kNew, 4000);
    const int id = packageId("T1");

    QJsonArray stages;
    for (double percent : {1.0, 10.0, 50.0, 100.0})
        stages.append(QJsonObject{{"percent", percent}, {"minMinutes", 0.01}});
    const QJsonObject set =
        json("PUT", planPath(id), body({{"stages", stages}, {"pauseAtFailures", 1}}));
    int total = set.value("outside").toInt();
    QList<int> members;
    for (const QJsonValue& stage : set.value("stages").toArray()) {
        members << stage["members"].toInt();
        total += members.last();
        // Fixed inputs, fixed buckets: a stage without members would open at once.
        EXPECT_GT(members.last(), 0);
    }
    ASSERT_EQ(total, 200);
    ASSERT_EQ(set.value("openStages").toInt(), 1);

    QStringList behind = all;
    for (int open = 1; open <= 4; ++open) {
        QJsonObject plan;
        ASSERT_TRUE(waitUntil(
            [&] {
                plan = get(planPath(id));
                return plan.value("openStages").toInt() == open;
            },
            20000))
            << "stage " << open << " never opened";
        EXPECT_EQ(plan.value("state").toString(), "running");
        if (open == 2) {
            // Stages are drawn afresh by no restart: the same terminals stay in the same stages.
            m_service.stop();
            ASSERT_TRUE(m_service.start()) << m_service.output().constData();
            const QJsonObject again = get(planPath(id));
            EXPECT_EQ(again.value("openStages").toInt(), 2);
            EXPECT_EQ(again.value("stages"), plan.value("stages"));
        }

        // Every terminal still behind reports; the offered ones hold their downloads open, so
        // the stage cannot prove itself before all have reported.
        std::vector<std::unique_ptr<TerminalConnection>> downloads;
        QStringList offered;
        for (const QString& sn : behind) {
            Reported reported = reportOnce(terminal(sn, kOld));
            ASSERT_GE(reported.flag, 0) << sn.toStdString();
            if (reported.flag == 1) {
                offered << sn;
                downloads.push_back(std::move(reported.link));
                continue;
            }
            const QJsonObject held = decision(sn);
            EXPECT_EQ(held.value("reason").toString(), "not_in_open_stage") << sn.toStdString();
            const int stage = held.value("detail").toString().mid(3, 1).toInt();  // "属于第N阶段"
            EXPECT_GT(stage, open) << sn.toStdString();
        }
        EXPECT_EQ(offered.size(), members.at(open - 1)) << "stage " << open;
        for (int i = 0; i < offered.size(); ++i) {
            ASSERT_TRUE(finishDownload(*downloads[i], offered[i])) << offered[i].toStdString();
            EXPECT_EQ(reportOnce(terminal(offered[i], kNew)).flag, 0);
            behind.removeOne(offered[i]);
        }
    }
    EXPECT_TRUE(behind.isEmpty());
    QJsonObject done;
    ASSERT_TRUE(waitUntil(
        [&] {
            done = get(planPath(id));
            return done.value("stages")[3]["succeeded"].toInt() == members.at(3);
        },
        10000));
    for (int i = 0; i < 4; ++i) {
        const QJsonObject stage = done.value("stages")[i].toObject();
        EXPECT_EQ(stage.value("succeeded").toInt(), members.at(i));
        EXPECT_EQ(stage.value("failed").toInt(), 0);
        EXPECT_TRUE(stage.value("open").toBool());
    }
    EXPECT_EQ(get("/KORVA/v2/packages/" + QByteArray::number(id) + "/rollout")
                  .value("counts")["done"]
                  .toInt(),
              200);
    // The supervisor writes the audit row after it has opened the stage.
    EXPECT_TRUE(waitUntil([&] { return audit("rollout_advance").size() == 3; }, 10000))
        << audit("rollout_advance").size();
    EXPECT_EQ(audit("rollout_advance")[0].toObject().value("account").toString(), "system");
}

TEST_F(ConsoleRolloutTest, FailuresPauseUntilResumedAndCancelStopsOffers) {
    m_service.setParam("RolloutCheckSeconds", "0.2");
    m_service.setParam("UpgradeStallMinutes", "0.02");  // 1.2 s
    ASSERT_TRUE(startService()) << m_service.output().constData();
    QStringList rows;
    for (int i = 1; i <= 8; ++i) rows << QStringLiteral("'B%1','T1','%2'").arg(i).arg(kOld);
    seed("devSN,devType,AppVersion", rows);
    addPackage("T1", "bad.bin", kNew, 4000);
    const int id = packageId("T1");
    const QJsonObject plan{
        {"stages", QJsonArray{QJsonObject{{"serials", QJsonArray{"B1", "B2", "B3", "B4"}},
                                          {"minMinutes", 60}},
                              QJsonObject{{"percent", 100}}}},
        {"pauseAtFailures", 2}};
    EXPECT_EQ(json("PUT", planPath(id), body(plan)).value("stages")[0]["members"].toInt(), 4);

    // B1's install does not take (one failure: it is offered again); then B4's download is
    // under way and B2 goes quiet.
    EXPECT_EQ(upgradeAndReturn(terminal("B1", kOld), kOld), 1);
    Reported b4 = reportOnce(terminal("B4", kOld));
    ASSERT_EQ(b4.flag, 1);
    Reported b2 = reportOnce(terminal("B2", kOld));
    ASSERT_EQ(b2.flag, 1);

    // The audit row follows the stored pause.
    QJsonObject paused;
    QJsonArray pauses;
    ASSERT_TRUE(waitUntil(
        [&] {
            paused = get(planPath(id));
            pauses = audit("rollout_pause");
            return paused.value("state") == "paused" && !pauses.isEmpty();
        },
        15000));
    EXPECT_FALSE(paused.value("pause")["reason"].toString().isEmpty());
    EXPECT_GE(paused.value("stages")[0]["failed"].toInt(), 2);
    ASSERT_EQ(pauses.size(), 1);
    EXPECT_EQ(pauses[0].toObject().value("account").toString(), "system");

    // Paused: nobody new is offered, B4's download goes on to its end, forced ones go through.
    EXPECT_EQ(reportOnce(terminal("B3", kOld)).flag, 0);
    EXPECT_EQ(decision("B3").value("reason").toString(), "rollout_paused");
    EXPECT_EQ(decision("B3").value("detail"), paused.value("pause")["reason"]);
    ASSERT_TRUE(finishDownload(*b4.link, "B4"));
    EXPECT_EQ(reportOnce(terminal("B4", kNew)).flag, 0);
    json("PATCH", "/KORVA/v2/devices/B5", R"({"isAutoUpdate":true})");
    EXPECT_EQ(reportOnce(terminal("B5", kOld)).flag, 1);
    EXPECT_EQ(decision("B5").value("reason").toString(), "forced");
    const auto outcomes = [&](const QString& sn) {
        QStringList out;
        for (const QJsonValue& attempt :
             get("/KORVA/v2/upgrades?devSN=" + sn.toUtf8()).value("items").toArray())
            out << attempt["outcome"].toString();
        return out;
    };
    EXPECT_EQ(outcomes("B1"), QStringList({"", "reverted"}));
    EXPECT_EQ(outcomes("B4"), QStringList{"succeeded"});

    const QJsonObject resumed = json("POST", planPath(id, "/resume"));
    EXPECT_EQ(resumed.value("state").toString(), "running");
    EXPECT_TRUE(resumed.value("pause").isNull());
    EXPECT_EQ(reportOnce(terminal("B3", kOld)).flag, 1);
    json("POST", planPath(id, "/resume"), {}, 409);

    EXPECT_EQ(json("POST", planPath(id, "/cancel")).value("state").toString(), "cancelled");
    EXPECT_EQ(reportOnce(terminal("B6", kOld)).flag, 0);
    EXPECT_EQ(decision("B6").value("reason").toString(), "rollout_cancelled");
    json("PATCH", "/KORVA/v2/devices/B7", R"({"isAutoUpdate":true})");
    EXPECT_EQ(reportOnce(terminal("B7", kOld)).flag, 1);
    json("POST", planPath(id, "/advance"), {}, 409);
    json("POST", planPath(id, "/cancel"), {}, 409);
    for (const char* action : {"rollout_plan_set", "rollout_resume", "rollout_cancel"})
        EXPECT_EQ(audit(action).size(), 1) << action;
}

TEST_F(ConsoleRolloutTest, EveryDecisionReasonIsRecordedAndCounted) {
    m_service.setParam("RolloutCheckSeconds", 3600);  // stages open only by hand here
    ASSERT_TRUE(startService()) << m_service.output().constData();
    seed("devSN,devType,AppVersion,isAutoUpdate,devId,IdentityPinned",
         {"'F1','T1','" + kNew + "',1,'F1',1", "'I1','T1','" + kOld + "',0,'REAL-ID',1"});
    addPackage("T1", "one.bin", kNew, 1000);
    addPackage("T2", "gone.bin", kNew, 1000);
    ASSERT_TRUE(QFile::remove(m_service.path("Package/T2/gone.bin")));
    const QJsonObject twoStages{{"stages", QJsonArray{QJsonObject{{"serials", QJsonArray{"P1"}}},
                                                      QJsonObject{{"percent", 100}}}},
                                {"pauseAtFailurePercent", 50}};
    for (const char* type : {"T3", "T4", "T5"}) {
        addPackage(type, QStringLiteral("%1.bin").arg(type), kNew, 1000);
        json("PUT", planPath(packageId(type)), body(twoStages));
    }
    json("POST", planPath(packageId("T4"), "/cancel"));
    ASSERT_TRUE(
        m_db->exec("update Tab_RolloutPlan set state='paused',pauseReason='held by test' "
                   "where packageId=" +
                   QString::number(packageId("T5"))));

    const QString newer = "升级包APP版本:" + kNew + " 大于 终端APP版本:" + kOld;
    const struct {
        const char* sn;
        const char* type;
        QString app;
        QByteArray devId;
        int flag;
        const char* reason;
        QString detail;
    } cases[] = {
        {"F1", "T1", kNew, {}, 1, "forced", ""},
        {"N1", "T1", kOld, {}, 1, "newer_component", newer},
        {"V1",
         "T1",
         kNew,
         {},
         0,
         "not_newer",
         "升级包APP版本:" + kNew + " 等于 终端APP版本:" + kNew},
        {"X1", "T9", kOld, {}, 0, "no_package", ""},
        {"M1", "T2", kOld, {}, 0, "package_file_missing", ""},
        {"P1", "T3", kOld, {}, 1, "newer_component", newer},
        {"P2", "T3", kOld, {}, 0, "not_in_open_stage", "属于第2阶段，已开放1个阶段"},
        {"C1", "T4", kOld, {}, 0, "rollout_cancelled", "发布已取消"},
        {"S1", "T5", kOld, {}, 0, "rollout_paused", "held by test"},
    };
    std::vector<Reported> connected;  // P2 stays connected: its rollout state is held
    for (const auto& c : cases) {
        connected.push_back(reportOnce(terminal(c.sn, c.app, c.type), c.devId));
        EXPECT_EQ(connected.back().flag, c.flag) << c.sn;
        const QJsonObject decided = decision(c.sn);
        EXPECT_EQ(decided.value("offered").toBool(), c.flag == 1) << c.sn;
        EXPECT_EQ(decided.value("reason").toString(), c.reason) << c.sn;
        EXPECT_TRUE(decided.value("detail").toString().startsWith(c.detail))
            << c.sn << ": " << decided.value("detail").toString().toStdString();
        EXPECT_EQ(decided.value("devType").toString(), c.type) << c.sn;
    }
    // An impostor of a pinned terminal is refused without rewriting that terminal's decision;
    // the conflict is recorded apart, and the next impostor within seconds writes nothing.
    EXPECT_EQ(reportOnce(terminal("I1", kOld), "REAL-ID").flag, 1);
    EXPECT_EQ(reportOnce(terminal("I1", kOld), "FAKE-ID").flag, 0);
    EXPECT_EQ(reportOnce(terminal("I1", kOld), "FAKE-ID-2").flag, 0);
    EXPECT_EQ(decision("I1").value("reason").toString(), "newer_component");
    const QJsonObject victim = get("/KORVA/v2/devices/I1");
    const QJsonObject conflict = victim.value("identityConflict").toObject();
    EXPECT_EQ(conflict.value("devId").toString(), "FAKE-ID");
    EXPECT_TRUE(conflict.value("address").toString().startsWith("127.0.0.1:"));
    EXPECT_GE(conflict.value("at").toInt(), decision("I1").value("decidedAt").toInt());
    EXPECT_TRUE(get("/KORVA/v2/devices/N1").value("identityConflict").isNull());
    const QJsonObject document = get("/KORVA/v2/openapi.json");
    const QJsonValue schema = document["paths"]["/KORVA/v2/devices/{devSN}"]["get"]["responses"]
                                      ["200"]["content"]["application/json"]["schema"];
    EXPECT_EQ(schemaMismatches(victim, schema.toObject(), document), QStringList());
    const QJsonObject conflictSchema{{"$ref", "#/components/schemas/IdentityConflict"}};
    EXPECT_EQ(schemaMismatches(conflict, conflictSchema, document), QStringList());
    EXPECT_EQ(decision("X1").value("packageId").toInt(), 0);
    EXPECT_EQ(decision("P2").value("packageId").toInt(), packageId("T3"));
    const QJsonObject planned =
        get("/KORVA/v2/packages/" + QByteArray::number(packageId("T3")) + "/rollout");
    EXPECT_TRUE(planned.value("planned").toBool());
    EXPECT_EQ(planned.value("counts")["held"].toInt(), 1);  // P2 waits for its stage
    EXPECT_EQ(planned.value("counts")["downloading"].toInt(), 1);
    EXPECT_EQ(planned.value("reasons")["not_in_open_stage"].toInt(), 1);

    // Manual mode holds back everything but forced upgrades.
    m_service.stop();
    m_service.setParam("ManualMode", 1);
    ASSERT_TRUE(m_service.start()) << m_service.output().constData();
    EXPECT_EQ(reportOnce(terminal("N2", kOld)).flag, 0);
    EXPECT_EQ(decision("N2").value("reason").toString(), "manual_mode");
    EXPECT_EQ(reportOnce(terminal("F1", kNew)).flag, 1);

    const QJsonObject reasons =
        get("/KORVA/v2/packages/" + QByteArray::number(packageId("T1")) + "/rollout")
            .value("reasons")
            .toObject();
    const QJsonObject expected{
        {"forced", 1}, {"newer_component", 2}, {"not_newer", 1}, {"manual_mode", 1}};
    for (auto it = reasons.begin(); it != reasons.end(); ++it)
        EXPECT_EQ(it.value().toInt(), expected.value(it.key()).toInt()) << it.key().toStdString();
    EXPECT_EQ(reasons.size(), 13);
}

TEST_F(ConsoleRolloutTest, PlansAreCheckedBeforeTheyAreStored) {
    ASSERT_TRUE(startService()) << m_service.output().constData();
    seed("devSN,devType", {"'A1','T1'"});
    addPackage("T1", "p.bin", kNew, 1000);
    const QByteArray path = planPath(packageId("T1"));
    const struct {
        QByteArray body;
        const char* message;  // a part of the error's message
    } cases[] = {
        {"[]", "JSON"},
        {R"({"stages":[{"percent":10}]})", "pauseAtFailures"},
        {R"({"stages":[],"pauseAtFailures":1})", "stages"},
        {R"({"stages":[{"percent":10}],"pauseAtFailures":1,"extra":1})", "extra"},
        {R"({"stages":[{"percent":10,"serials":["A1"]}],"pauseAtFailures":1})", "之一"},
        {R"({"stages":[{"percent":50},{"percent":10}],"pauseAtFailures":1})", "percent"},
        {R"({"stages":[{"percent":100},{"serials":["A1"]}],"pauseAtFailures":1})", "100%"},
        {R"({"stages":[{"percent":0}],"pauseAtFailures":1})", "percent"},
        {R"({"stages":[{"percent":10,"successPercent":101}],"pauseAtFailures":1})",
         "successPercent"},
        {R"({"stages":[{"percent":10,"minMinutes":-1}],"pauseAtFailures":1})", "minMinutes"},
        {R"({"stages":[{"serials":[]}],"pauseAtFailures":1})", "serials"},
        {R"({"stages":[{"filter":{"devTyp":"T1"}}],"pauseAtFailures":1})", "devTyp"},
        {R"({"stages":[{"filter":{"AppVersion":"none"}}],"pauseAtFailures":1})", "filter"},
        {R"({"stages":[{"percent":10}],"pauseAtFailures":1.5})", "pauseAtFailures"},
    };
    for (const auto& c : cases) {
        const QJsonObject error = json("PUT", path, c.body, 400).value("error").toObject();
        EXPECT_EQ(error.value("code").toString(), "bad_request") << c.body.constData();
        EXPECT_TRUE(error.value("message").toString().contains(QString::fromUtf8(c.message)))
            << c.body.constData() << ": " << error.value("message").toString().toStdString();
    }
    json("GET", path, {}, 404);  // nothing was stored
    json("PUT", "/KORVA/v2/packages/99/plan", R"({"stages":[{"percent":1}],"pauseAtFailures":1})",
         404);

    const QJsonObject filtered = json(
        "PUT", path, R"({"stages":[{"filter":{"q":"A"}},{"percent":100}],"pauseAtFailures":1})");
    EXPECT_EQ(filtered.value("stages")[0]["kind"].toString(), "filter");
    EXPECT_EQ(filtered.value("stages")[0]["members"].toInt(), 1);
    EXPECT_EQ(filtered.value("stages")[0]["filter"]["q"].toString(), "A");
    json("POST", path + "/resume", {}, 409);
    EXPECT_EQ(json("POST", path + "/advance").value("openStages").toInt(), 2);
    json("POST", path + "/advance", {}, 409);

    // Another upload for the type keeps the package row: its plan starts again.
    ASSERT_TRUE(m_db->exec("update Tab_Package set packageName='p2.bin'"));
    const QJsonObject again = get(path);
    EXPECT_EQ(again.value("packageName").toString(), "p2.bin");
    EXPECT_EQ(again.value("openStages").toInt(), 1);
    EXPECT_FALSE(again.value("stages")[1]["open"].toBool());
}

// The preview places terminals as the stored plan then does, and stores nothing.
TEST_F(ConsoleRolloutTest, PlanPreviewCountsStagesAsTheRolloutPlacesThem) {
    ASSERT_TRUE(startService()) << m_service.output().constData();
    QStringList rows;
    for (int i = 0; i < 200; ++i)  // one in four already on the new version
        rows << QStringLiteral("'A%1','T1','%2'")
                    .arg(i, 3, 10, QLatin1Char('0'))
                    .arg(i % 4 ? kOld : kNew);
    seed("devSN,devType,AppVersion", rows);
    ASSERT_TRUE(
        m_db->exec("insert into Tab_DevicePresence(devSN,instance,connectedSince,"
                   "lastReport) values('A001','elsewhere',1,1)"));
    addPackage("T1", "p.bin", kNew, 1000);
    const QByteArray path = planPath(packageId("T1"));
    const QByteArray plan =
        R"({"stages":[{"serials":["A000","A001","NOPE"]},{"percent":30}],"pauseAtFailures":1})";
    const QJsonObject preview = json("POST", path + "/preview", plan);
    json("GET", path, {}, 404);
    EXPECT_EQ(preview.value("terminals").toInt(), 200);
    EXPECT_EQ(preview.value("online").toInt(), 1);
    const QJsonObject listed = preview.value("stages")[0].toObject();
    EXPECT_EQ(listed.value("members").toInt(), 2);
    EXPECT_EQ(listed.value("online").toInt(), 1);
    EXPECT_EQ(listed.value("alreadyOnVersion").toInt(), 1);
    EXPECT_EQ(listed.value("wouldBeOffered").toInt(), 1);
    int members = 0, onVersion = 0, behind = 0;
    QJsonArray parts = preview.value("stages").toArray();
    parts.append(preview.value("outside"));
    for (const QJsonValue& part : parts) {
        members += part["members"].toInt();
        onVersion += part["alreadyOnVersion"].toInt();
        behind += part["wouldBeOffered"].toInt();
    }
    EXPECT_EQ(members, 200);
    EXPECT_EQ(onVersion, 50);
    EXPECT_EQ(behind, 150);

    const QJsonObject stored = json("PUT", path, plan);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(stored.value("stages")[i]["members"].toInt(),
                  preview.value("stages")[i]["members"].toInt());
    EXPECT_EQ(stored.value("outside").toInt(), preview.value("outside")["members"].toInt());
    json("POST", path + "/preview", R"({"stages":[{"percent":0}],"pauseAtFailures":1})", 400);
}

// A window of the service's time of day (the test's own zone) from the given minutes off now,
// two hours long: it may cross midnight.
QString windowFrom(int minutes) {
    const QTime now = QTime::currentTime();
    return now.addSecs(minutes * 60).toString("HH:mm") + "-" +
           now.addSecs((minutes + 120) * 60).toString("HH:mm");
}

TEST_F(ConsoleRolloutTest, WindowsAndAPauseByHandHoldOnlyNewOffers) {
    m_service.setParam("RolloutCheckSeconds", 3600);  // nothing changes the plan but the test
    ASSERT_TRUE(startService()) << m_service.output().constData();
    addPackage("T1", "win.bin", kNew, 4000);
    const int id = packageId("T1");
    const auto schedule = [&](bool open, int status = 200) {
        return json("PUT", planPath(id, "/schedule"),
                    body({{"windows", QJsonArray{windowFrom(open ? -60 : 120), windowFrom(600)}}}),
                    status);
    };
    QJsonObject plan{{"stages", QJsonArray{QJsonObject{{"percent", 100}}}},
                     {"pauseAtFailures", 5},
                     {"windows", QJsonArray{windowFrom(120)}}};
    EXPECT_FALSE(json("PUT", planPath(id), body(plan)).value("inWindow").toBool());
    EXPECT_EQ(reportOnce(terminal("W1", kOld)).flag, 0);
    EXPECT_EQ(decision("W1").value("reason").toString(), "outside_window");
    seed("devSN,devType,AppVersion,isAutoUpdate", {"'W9','T1','" + kOld + "',1"});
    EXPECT_EQ(reportOnce(terminal("W9", kOld)).flag, 1);  // forced goes through

    // The window opens, W1's download starts, the window closes mid-stage: W2 waits, W1 ends.
    EXPECT_TRUE(schedule(true).value("inWindow").toBool());
    Reported w1 = reportOnce(terminal("W1", kOld));
    ASSERT_EQ(w1.flag, 1);
    const QJsonObject closed = schedule(false);
    EXPECT_EQ(closed.value("windows").toArray().size(), 2);
    EXPECT_EQ(closed.value("openStages").toInt(), 1);
    EXPECT_EQ(reportOnce(terminal("W2", kOld)).flag, 0);
    EXPECT_EQ(decision("W2").value("reason").toString(), "outside_window");
    ASSERT_TRUE(finishDownload(*w1.link, "W1"));
    json("PUT", planPath(id, "/schedule"), R"({"windows":["25:00-01:00"]})", 400);
    json("PUT", planPath(id, "/schedule"), R"({"windows":[],"stages":[]})", 400);

    // A start time still to come holds offers back like a closed window.
    const qint64 later = QDateTime::currentSecsSinceEpoch() + 3600;
    json("PUT", planPath(id, "/schedule"), body({{"startAt", later}}));
    EXPECT_EQ(reportOnce(terminal("W2", kOld)).flag, 0);
    EXPECT_TRUE(decision("W2").value("detail").toString().startsWith("发布开始于"));

    // Paused by hand the plan holds where it is; resumed, it goes on from there.
    EXPECT_TRUE(schedule(true).value("inWindow").toBool());
    const QJsonObject paused = json("POST", planPath(id, "/pause"));
    EXPECT_EQ(paused.value("state").toString(), "paused");
    json("POST", planPath(id, "/pause"), {}, 409);
    EXPECT_EQ(reportOnce(terminal("W2", kOld)).flag, 0);
    EXPECT_EQ(decision("W2").value("reason").toString(), "rollout_paused");
    EXPECT_EQ(decision("W2").value("detail"), paused.value("pause")["reason"]);
    EXPECT_EQ(json("POST", planPath(id, "/resume")).value("state").toString(), "running");
    EXPECT_EQ(reportOnce(terminal("W2", kOld)).flag, 1);
    for (const char* action : {"rollout_pause", "rollout_resume"}) {
        const QJsonArray rows = audit(action);
        ASSERT_EQ(rows.size(), 1) << action;
        EXPECT_NE(rows[0].toObject().value("account").toString(), "system") << action;
    }
    EXPECT_EQ(audit("rollout_schedule").size(), 4);
}

TEST_F(ConsoleRolloutTest, InstallsThatDidNotTakeReachTheRetryLimitUntilReleased) {
    m_service.setParam("RolloutCheckSeconds", 3600);
    ASSERT_TRUE(startService()) << m_service.output().constData();
    addPackage("T1", "retry.bin", kNew, 4000);
    const int id = packageId("T1");
    json("PUT", planPath(id),
         body({{"stages", QJsonArray{QJsonObject{{"percent", 100}}}}, {"pauseAtFailures", 100}}));
    const QByteArray base = "/KORVA/v2/packages/" + QByteArray::number(id);

    // Each return on the old versions offers the package again, until the third.
    EXPECT_EQ(upgradeAndReturn(terminal("H1", kOld), kOld), 1);
    EXPECT_EQ(upgradeAndReturn(terminal("H1", kOld), kOld), 1);
    EXPECT_EQ(upgradeAndReturn(terminal("H1", kOld), kOld), 0);
    EXPECT_EQ(decision("H1").value("reason").toString(), "retry_limit");
    Reported held = reportOnce(terminal("H1", kOld));  // stays connected: held, not offline
    EXPECT_EQ(held.flag, 0);
    EXPECT_EQ(get(base + "/rollout").value("counts")["held"].toInt(), 1);
    EXPECT_EQ(upgradeAndReturn(terminal("H2", kOld), kOld), 1);
    EXPECT_EQ(upgradeAndReturn(terminal("H3", kOld), kNew), 0);

    // Each attempt's result, filterable.
    const struct {
        const char* query;
        QStringList serials;
    } filters[] = {
        {"result=notTaken&devSN=H1", {"H1", "H1", "H1"}},
        {"result=abandoned", {"H1", "H1"}},  // offered again, then started afresh
        {"result=succeeded", {"H3"}},
        {"result=superseded", {}},
    };
    for (const auto& f : filters)
        EXPECT_EQ(serials(get(QByteArray("/KORVA/v2/upgrades?") + f.query)), f.serials) << f.query;
    json("GET", "/KORVA/v2/upgrades?result=lost", {}, 400);

    // The failed terminals with their last attempt, as JSON and as CSV.
    const QJsonObject failed = get(base + "/failed");
    EXPECT_EQ(serials(failed), QStringList({"H1", "H2"}));
    EXPECT_EQ(failed.value("held").toInt(), 1);
    const QJsonObject h1 = failed.value("items")[0].toObject();
    EXPECT_EQ(h1.value("notTaken").toInt(), 3);
    EXPECT_TRUE(h1.value("held").toBool());
    EXPECT_EQ(h1.value("last")["result"].toString(), "notTaken");
    EXPECT_FALSE(failed.value("items")[1]["held"].toBool());
    const HttpResponse exported = call("GET", base + "/failed.csv");
    EXPECT_EQ(exported.status, 200);
    const QList<QStringList> lines =
        CsvOpt::parse(QString::fromUtf8(exported.body).remove(QChar(0xFEFF)));
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[1].mid(0, 4), QStringList({"H1", "5", "3", "notTaken"}));
    EXPECT_EQ(lines[2].value(6), "否");

    // Released, H1 is offered again; a terminal that is not held cannot be released.
    json("POST", base + "/held/release", R"({"devSN":"H2"})", 409);
    json("POST", base + "/held/release", R"({"devSN":"H1","all":true})", 400);
    EXPECT_EQ(json("POST", base + "/held/release", R"({"all":true})").value("released").toInt(), 1);
    EXPECT_EQ(reportOnce(terminal("H1", kOld)).flag, 1);
    EXPECT_EQ(get(base + "/failed").value("held").toInt(), 0);
    ASSERT_EQ(audit("retry_release").size(), 1);
    EXPECT_TRUE(audit("retry_release")[0].toObject().value("summary").toString().contains("H1"));
}

}  // namespace
