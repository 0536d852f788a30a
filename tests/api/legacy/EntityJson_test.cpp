#include "api/legacy/EntityJson.h"

#include <gtest/gtest.h>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include "tests/api/ScopedTimeZone.h"

namespace {

// Stateless: one serves every test.
EntityJson* codec() {
    static EntityJson json;
    return &json;
}

QJsonObject parseObject(const QByteArray& body) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << body.toStdString();
    return doc.object();
}

TEST(EntityJsonTest, EmptyDeviceListKeepsTheCallersStatusCode) {
    for (int statusCode : {0, 1}) {
        QByteArray body = "stale";
        ASSERT_TRUE(codec()->DeviceListToJson(statusCode, "", {}, body));
        EXPECT_EQ(body, QByteArray(R"({"data":{"deviceInfo":[]},"errorMgs":"","statusCode":)") +
                            QByteArray::number(statusCode) + "}");
    }
}

TEST(EntityJsonTest, DeviceItemCarriesEveryMemberWithItsType) {
    ScopedTimeZone zone("CST-8");
    struDeviceInfo d;
    d.id = 7;
    d.devId = "D1";
    d.devSN = "SN1";
    d.devType = "T1";
    d.LicensePlateNumber = "京A12345";
    d.PhoneNumber = "13800000000";
    d.AppVersion = "A1";
    d.McuVersion = "M1";
    d.FourGVersion = "F1";
    d.GnssVersion = "G1";
    d.SmartModule = "S1";
    d.UpgradeCompletionTime = 1657500000;  // 2022-07-11 00:40:00 UTC
    d.upgradeProgress = 55;
    d.progressReported = true;
    struDeviceInfo never = d;
    never.UpgradeCompletionTime = 0;
    never.progressReported = false;

    QByteArray body;
    ASSERT_TRUE(codec()->DeviceListToJson(1, "", {d, never}, body));
    EXPECT_FALSE(body.contains('\n'));
    EXPECT_FALSE(body.contains("\": ")) << "compact layout";
    EXPECT_FALSE(body.contains(", ")) << "compact layout";
    const QJsonObject top = parseObject(body);
    EXPECT_EQ(top.size(), 3);
    EXPECT_EQ(top["statusCode"].toInt(-1), 1);
    EXPECT_TRUE(top["errorMgs"].isString());
    const QJsonArray list = top["data"].toObject()["deviceInfo"].toArray();
    ASSERT_EQ(list.size(), 2);
    const QJsonObject item = list[0].toObject();
    EXPECT_EQ(item.size(), 14);
    EXPECT_EQ(item["id"].toInt(), 7);
    EXPECT_EQ(item["deviceId"].toString(), "D1");
    EXPECT_EQ(item["deviceNo"].toString(), "SN1");
    EXPECT_EQ(item["deviceType"].toString(), "T1");
    EXPECT_EQ(item["plateNo"].toString(), "京A12345");
    EXPECT_EQ(item["phone"].toString(), "13800000000");
    EXPECT_EQ(item["AppVersion"].toString(), "A1");
    EXPECT_EQ(item["McuVersion"].toString(), "M1");
    EXPECT_EQ(item["FourGVersions"].toString(), "F1");
    EXPECT_EQ(item["GnssVersions"].toString(), "G1");
    EXPECT_EQ(item["SmartModule"].toString(), "S1");
    EXPECT_EQ(item["lastUpdateTime"].toString(), "2022-07-11 08:40:00");
    EXPECT_TRUE(item["uploadStatus"].isBool());
    EXPECT_TRUE(item["uploadStatus"].toBool());
    EXPECT_TRUE(item["progress"].isDouble());
    EXPECT_EQ(item["progress"].toInt(), 55);
    const QJsonObject second = list[1].toObject();
    EXPECT_TRUE(second["lastUpdateTime"].isString());
    EXPECT_EQ(second["lastUpdateTime"].toString(), "");
    EXPECT_FALSE(second["uploadStatus"].toBool(true));
}

TEST(EntityJsonTest, PackageListIsIndentedWithSingularVersionNames) {
    ScopedTimeZone zone("CST-8");
    struPackageInfo p;
    p.id = 3;
    p.packageName = "20220711_app.bin";
    p.AppVersion = "A2";
    p.McuVersion = "M2";
    p.FourGVersion = "F2";
    p.GnssVersion = "G2";
    p.SmartModule = "S2";
    p.size = 1024;
    p.uploadTime = 1657500000;
    p.deviceType = "T1";
    p.packagePath = "/not/shown";
    p.sha256 = "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08";
    struPackageInfo unknownTime = p;
    unknownTime.uploadTime = 0;

    QByteArray body;
    ASSERT_TRUE(codec()->PackageListToJson(1, "", {p, unknownTime}, body));
    EXPECT_TRUE(body.startsWith("{\n    \"data\": {\n        \"packageList\": [\n"))
        << body.toStdString();
    const QJsonObject top = parseObject(body);
    EXPECT_EQ(top["statusCode"].toInt(-1), 1);
    const QJsonArray list = top["data"].toObject()["packageList"].toArray();
    ASSERT_EQ(list.size(), 2);
    const QJsonObject item = list[0].toObject();
    EXPECT_EQ(item.size(), 11);
    EXPECT_EQ(item["sha256"].toString(),
              "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08");
    EXPECT_EQ(item["id"].toInt(), 3);
    EXPECT_EQ(item["name"].toString(), "20220711_app.bin");
    EXPECT_EQ(item["AppVersion"].toString(), "A2");
    EXPECT_EQ(item["McuVersion"].toString(), "M2");
    EXPECT_EQ(item["FourGVersion"].toString(), "F2");
    EXPECT_EQ(item["GnssVersion"].toString(), "G2");
    EXPECT_EQ(item["SmartModule"].toString(), "S2");
    EXPECT_EQ(item["size"].toInt(), 1024);
    EXPECT_EQ(item["uploadTime"].toString(), "2022-07-11 08:40:00");
    EXPECT_EQ(item["deviceType"].toString(), "T1");
    EXPECT_EQ(list[1].toObject()["uploadTime"].toString(), "");
}

TEST(EntityJsonTest, ProgressItemCarriesTheSerialNumberUnderDeviceId) {
    struDeviceInfo d;
    d.devId = "D1";
    d.devSN = "SN1";
    d.upgradeProgress = 30;
    QByteArray body;
    ASSERT_TRUE(codec()->ProgressListToJson(1, "", {d}, body));
    EXPECT_TRUE(body.contains("\n                \"deviceId\": \"SN1\"")) << body.toStdString();
    const QJsonObject item =
        parseObject(body)["data"].toObject()["progressList"].toArray()[0].toObject();
    EXPECT_EQ(item.size(), 2);
    EXPECT_EQ(item["deviceId"].toString(), "SN1");
    EXPECT_EQ(item["progress"].toInt(), 30);

    ASSERT_TRUE(codec()->ProgressListToJson(0, "", {}, body));
    const QJsonObject empty = parseObject(body);
    EXPECT_EQ(empty["statusCode"].toInt(-1), 0);
    EXPECT_TRUE(empty["data"].toObject()["progressList"].isArray());
    EXPECT_TRUE(empty["data"].toObject()["progressList"].toArray().isEmpty());
}

TEST(EntityJsonTest, ParseDeviceQuery) {
    const struct {
        QString url;
        bool ok;
        QString deviceNo;
        QString phoneNum;
    } cases[] = {
        {"/KORVA/deviceList?deviceNo=SN1&phoneNum=138", true, "SN1", "138"},
        {"/KORVA/deviceList?deviceNo=", true, "", "old"},
        {"/KORVA/deviceList?phoneNum=1&deviceNo=2&deviceNo=3", true, "3", "1"},
        {"/KORVA/deviceList?mydeviceNo=a", true, "mya", "old"},  // containment, not prefix
        {"/KORVA/deviceList?deviceNo=a+b%20c", true, "a+b%20c", "old"},
        {"/KORVA/deviceList?deviceNo=phoneNum=", true, "phoneNum=", "old"},
        {"/KORVA/deviceList?x=1&&", true, "old", "old"},
        {"/KORVA/deviceList", false, "old", "old"},
        {"", false, "old", "old"},
        {QString(), false, "old", "old"},
    };
    for (const auto& c : cases) {
        QString deviceNo = "old";
        QString phoneNum = "old";
        EXPECT_EQ(codec()->ParseDeviceQuery(c.url, deviceNo, phoneNum), c.ok)
            << c.url.toStdString();
        EXPECT_EQ(deviceNo, c.deviceNo) << c.url.toStdString();
        EXPECT_EQ(phoneNum, c.phoneNum) << c.url.toStdString();
    }
}

TEST(EntityJsonTest, ParseUploadParamTakesEveryField) {
    struUploadParam p;
    ASSERT_TRUE(codec()->ParseUploadParam(
        "/KORVA/uploadFile?name=a.bin&app=A1&mcu=M1&fourG=F1&gnss=G1&smart=S1&type=T1"
        "&blockIndex=2&blockSize=3&totalLength=8589934592&uploadTime=20220711",
        p));
    EXPECT_EQ(p.name, "a.bin");
    EXPECT_EQ(p.app, "A1");
    EXPECT_EQ(p.mcu, "M1");
    EXPECT_EQ(p.fourG, "F1");
    EXPECT_EQ(p.gnss, "G1");
    EXPECT_EQ(p.smart, "S1");
    EXPECT_EQ(p.type, "T1");
    EXPECT_EQ(p.blockIndex, 2);
    EXPECT_EQ(p.blockSize, 3);
    EXPECT_EQ(p.totalLength, 8589934592ull);
    EXPECT_EQ(p.uploadTime, "20220711");
}

TEST(EntityJsonTest, ParseUploadParamEdgeCases) {
    const struct {
        QString query;
        bool ok;
        QString name;
        QString type;
        qint32 blockIndex;
        qint32 blockSize;
        quint64 totalLength;
    } cases[] = {
        {"/KORVA/uploadFile?name=a.bin&type=T1&blockIndex=x", true, "a.bin", "T1", 0, 0, 0},
        {"/KORVA/uploadFile?name=a.bin&name=b.bin", true, "b.bin", "", 0, 0, 0},
        {"/KORVA/uploadFile?filename=x", true, "filex", "", 0, 0, 0},
        {"/KORVA/uploadFile?name=a+b.bin", true, "a+b.bin", "", 0, 0, 0},
        {"/KORVA/uploadFile?blockIndex=-1&blockSize=2147483648", true, "", "", -1, 0, 0},
        {"/KORVA/uploadFile?totalLength=18446744073709551615", true, "", "", 0, 0,
         18446744073709551615ull},
        {"/KORVA/uploadFile?totalLength=-1", true, "", "", 0, 0, 0},
        {"/KORVA/uploadFile?", true, "", "", 0, 0, 0},
        {"/KORVA/uploadFile", false, "", "", 0, 0, 0},
        {"", false, "", "", 0, 0, 0},
    };
    for (const auto& c : cases) {
        struUploadParam p;
        p.type = "stale";  // the record starts fresh
        p.blockSize = 9;
        const bool ok = codec()->ParseUploadParam(c.query, p);
        EXPECT_EQ(ok, c.ok) << c.query.toStdString();
        if (!ok) continue;
        EXPECT_EQ(p.name, c.name) << c.query.toStdString();
        EXPECT_EQ(p.type, c.type) << c.query.toStdString();
        EXPECT_EQ(p.blockIndex, c.blockIndex) << c.query.toStdString();
        EXPECT_EQ(p.blockSize, c.blockSize) << c.query.toStdString();
        EXPECT_EQ(p.totalLength, c.totalLength) << c.query.toStdString();
    }
}

TEST(EntityJsonTest, ParseImportFileName) {
    const struct {
        QString url;
        bool ok;
        QString suffix;
    } cases[] = {
        {"/KORVA/uploadExcel?name=List.CSV", true, "CSV"},
        {"/KORVA/uploadExcel?name=list.csv", true, "csv"},
        {"/KORVA/uploadExcel?filename=list.Csv", true, "Csv"},
        {"name=dir/list.csv", true, "csv"},
        {"/KORVA/uploadExcel?name=../../evil.csv", true, "csv"},
        {"/KORVA/uploadExcel?name=list.csv&x=1", false, ""},
        {"/KORVA/uploadExcel?name=list.xlsx", false, ""},
        {"/KORVA/uploadExcel?name=list.csvx", false, ""},
        {"/KORVA/uploadExcel?name=list.csv/evil", false, ""},
        {"/KORVA/uploadExcel?name=csv", false, ""},
        {"/KORVA/uploadExcel?name=", false, ""},
        {"/KORVA/uploadExcel?file=list.csv", false, ""},
        {"", false, ""},
    };
    const QRegularExpression storedName(
        "^import\\{[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\}\\.(.*)$");
    for (const auto& c : cases) {
        QString fileName = "untouched";
        EXPECT_EQ(codec()->ParseImportFileName(c.url, fileName), c.ok) << c.url.toStdString();
        if (!c.ok) {
            EXPECT_EQ(fileName, "untouched");
            continue;
        }
        const QRegularExpressionMatch match = storedName.match(fileName);
        ASSERT_TRUE(match.hasMatch()) << fileName.toStdString();
        EXPECT_EQ(match.captured(1), c.suffix) << c.url.toStdString();
    }
    QString first;
    QString second;
    ASSERT_TRUE(codec()->ParseImportFileName("?name=a.csv", first));
    ASSERT_TRUE(codec()->ParseImportFileName("?name=a.csv", second));
    EXPECT_NE(first, second);
}

TEST(EntityJsonTest, ParsePackageId) {
    const struct {
        QByteArray body;
        bool ok;
        int id;
    } cases[] = {
        {R"({"id": 5})", true, 5},
        {R"({"id": 0})", true, 0},
        {R"({"id": 5.0})", true, 5},
        {R"({"id": 7, "name": "x"})", true, 7},
        {R"({"id": 2147483647})", true, 2147483647},
        {R"({"id": 5.7})", false, 0},  // not a whole number: no package can have it
        {R"({"id": 1e10})", false, 0},
        {R"({"id": "5"})", false, 0},
        {R"({"id": -1})", false, 0},
        {R"({"id": null})", false, 0},
        {R"({"id": true})", false, 0},
        {R"({"ID": 5})", false, 0},
        {R"({})", false, 0},
        {R"([5])", false, 0},
        {R"(5)", false, 0},
        {R"({"id": 5)", false, 0},
        {"not json", false, 0},
        {"", false, 0},
    };
    for (const auto& c : cases) {
        int id = -99;
        EXPECT_EQ(codec()->ParsePackageId(c.body, id), c.ok) << c.body.toStdString();
        if (c.ok) {
            EXPECT_EQ(id, c.id) << c.body.toStdString();
        }
    }
}

}  // namespace
