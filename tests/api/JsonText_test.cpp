#include "core/JsonText.h"

#include <gtest/gtest.h>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "api/legacy/EntityJson.h"
#include "core/LocalTime.h"
#include "tests/api/ScopedTimeZone.h"

namespace {

// What QJsonDocument writes for a device list: the reference the hand-written text must match.
QByteArray referenceDeviceList(int statusCode, const QString& errorMgs,
                               const QList<struDeviceInfo>& devices) {
    QJsonArray list;
    for (const struDeviceInfo& d : devices) {
        QJsonObject item;
        item.insert("id", d.id);
        item.insert("deviceId", d.devId);
        item.insert("deviceNo", d.devSN);
        item.insert("deviceType", d.devType);
        item.insert("plateNo", d.LicensePlateNumber);
        item.insert("phone", d.PhoneNumber);
        item.insert("AppVersion", d.AppVersion);
        item.insert("McuVersion", d.McuVersion);
        item.insert("FourGVersions", d.FourGVersion);
        item.insert("GnssVersions", d.GnssVersion);
        item.insert("SmartModule", d.SmartModule);
        item.insert("lastUpdateTime",
                    d.UpgradeCompletionTime > 0
                        ? QDateTime::fromSecsSinceEpoch(d.UpgradeCompletionTime, Qt::LocalTime)
                              .toString("yyyy-MM-dd HH:mm:ss")
                        : QString(""));
        item.insert("uploadStatus", d.progressReported);
        item.insert("progress", qint64(d.upgradeProgress));
        list.append(item);
    }
    QJsonObject top{{"data", QJsonObject{{"deviceInfo", list}}},
                    {"errorMgs", errorMgs},
                    {"statusCode", statusCode}};
    return QJsonDocument(top).toJson(QJsonDocument::Compact);
}

struDeviceInfo device(const QString& text, int id) {
    struDeviceInfo d;
    d.id = id;
    d.devId = "ID" + text;
    d.devSN = text;
    d.devType = text + text;
    d.LicensePlateNumber = text;
    d.PhoneNumber = text;
    d.AppVersion = text;
    d.McuVersion = text;
    d.FourGVersion = text;
    d.GnssVersion = text;
    d.SmartModule = text;
    return d;
}

TEST(JsonTextTest, DeviceListIsByteForByteWhatQJsonDocumentWrites) {
    ScopedTimeZone zone("CST-8");
    const QString loneHigh(QChar(0xD83D));
    const QString loneLow(QChar(0xDE00));
    const QStringList texts{
        "",
        "plain",
        "say \"hi\"",
        "back\\slash\\",
        QString::fromLatin1("ctl\x01\x02\x1f\x7f", 7),
        "\b\f\n\r\t",
        "京A12345 设备序列号",
        QString::fromUtf8("emoji \xF0\x9F\x98\x80 é"),
        "lone " + loneHigh + " high",
        "lone " + loneLow + " low",
        loneHigh,
        QString::fromUtf8("sep\xE2\x80\xA8\xE2\x80\xA9 </script>"),
        QString(QChar(0)) + "nul",
    };
    QList<struDeviceInfo> devices;
    int id = -3;
    for (const QString& text : texts) {
        struDeviceInfo d = device(text, id++);
        d.UpgradeCompletionTime = devices.size() % 3 == 0 ? 0 : 1657500000 + devices.size();
        d.upgradeProgress = devices.size() % 2 ? 4294967295u : 42;
        d.progressReported = devices.size() % 2;
        devices << d;
    }
    devices[1].UpgradeCompletionTime = -5;
    devices[2].id = 2147483647;
    devices[3].id = -2147483647 - 1;

    for (const QString& errorMgs : {QString(), QString("err \"x\"\n中文")}) {
        for (int statusCode : {1, 0, -7}) {
            QByteArray body;
            ASSERT_TRUE(EntityJson().DeviceListToJson(statusCode, errorMgs, devices, body));
            EXPECT_EQ(body, referenceDeviceList(statusCode, errorMgs, devices));
            ASSERT_TRUE(EntityJson().DeviceListToJson(statusCode, errorMgs, {}, body));
            EXPECT_EQ(body, referenceDeviceList(statusCode, errorMgs, {}));
        }
    }
}

TEST(JsonTextTest, LocalTimeTextMatchesQDateTimeAcrossDaylightSaving) {
    // Instants around the 2022 transitions of both zones, the epoch's first second and 2038.
    const qint64 instants[] = {1,          86399,      1647154799, 1647154800,
                               1647158400, 1667714399, 1667714400, 1667718000,
                               1648342800, 1666400000, 1657500000, 2147483647};
    for (const char* zone : {"EST5EDT,M3.2.0,M11.1.0", "CET-1CEST,M3.5.0,M10.5.0/3", "UTC0"}) {
        ScopedTimeZone scoped(zone);
        for (qint64 t : instants) {
            EXPECT_EQ(
                localTimeText(t),
                QDateTime::fromSecsSinceEpoch(t, Qt::LocalTime).toString("yyyy-MM-dd HH:mm:ss"))
                << zone << " " << t;
        }
    }
    EXPECT_EQ(localTimeText(0), "");
    EXPECT_EQ(localTimeText(-1), "");
}

}  // namespace
