// Serialising the whole device list, as GET /KORVA/deviceList does for a large fleet.
#include <benchmark/benchmark.h>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "api/legacy/EntityJson.h"
#include "core/JsonText.h"
#include "core/LocalTime.h"

namespace {

QList<struDeviceInfo> makeDevices(int count) {
    QList<struDeviceInfo> devices;
    devices.reserve(count);
    for (int i = 0; i < count; ++i) {
        struDeviceInfo d;
        d.id = i + 1;
        d.devId = QStringLiteral("DEV%1").arg(i, 8, 10, QLatin1Char('0'));
        d.devSN = QStringLiteral("SN%1").arg(i, 10, 10, QLatin1Char('0'));
        d.devType = QStringLiteral("T-100");
        d.LicensePlateNumber = QStringLiteral("京A%1").arg(i % 100000, 5, 10, QLatin1Char('0'));
        d.PhoneNumber = QStringLiteral("138%1").arg(i, 8, 10, QLatin1Char('0'));
        d.AppVersion = QStringLiteral("V1.2.3");
        d.McuVersion = QStringLiteral("M2.0.1");
        d.FourGVersion = QStringLiteral("4G-EC20-R01");
        d.GnssVersion = QStringLiteral("G3.1");
        d.SmartModule = QStringLiteral("S0.9");
        d.UpgradeCompletionTime = (i % 2) ? 1657500000 + i : 0;
        d.upgradeProgress = quint32(i % 101);
        d.progressReported = (i % 3) == 0;
        devices << d;
    }
    return devices;
}

void BM_DeviceListToJson(benchmark::State& state) {
    const QList<struDeviceInfo> devices = makeDevices(int(state.range(0)));
    QByteArray body;
    for (auto _ : state) {
        EntityJson().DeviceListToJson(1, QString(), devices, body);
        benchmark::DoNotOptimize(body.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * body.size());
}
BENCHMARK(BM_DeviceListToJson)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

// The same document through QJsonObject and QJsonDocument, for the side-by-side ratio.
void BM_DeviceListQJsonDocument(benchmark::State& state) {
    const QList<struDeviceInfo> devices = makeDevices(int(state.range(0)));
    QByteArray body;
    for (auto _ : state) {
        QJsonArray list;
        for (const struDeviceInfo& d : devices) {
            QJsonObject item;
            item.insert(QStringLiteral("id"), d.id);
            item.insert(QStringLiteral("deviceId"), d.devId);
            item.insert(QStringLiteral("deviceNo"), d.devSN);
            item.insert(QStringLiteral("deviceType"), d.devType);
            item.insert(QStringLiteral("plateNo"), d.LicensePlateNumber);
            item.insert(QStringLiteral("phone"), d.PhoneNumber);
            item.insert(QStringLiteral("AppVersion"), d.AppVersion);
            item.insert(QStringLiteral("McuVersion"), d.McuVersion);
            item.insert(QStringLiteral("FourGVersions"), d.FourGVersion);
            item.insert(QStringLiteral("GnssVersions"), d.GnssVersion);
            item.insert(QStringLiteral("SmartModule"), d.SmartModule);
            item.insert(QStringLiteral("lastUpdateTime"),
                        d.UpgradeCompletionTime > 0
                            ? QDateTime::fromSecsSinceEpoch(d.UpgradeCompletionTime)
                                  .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                            : QString());
            item.insert(QStringLiteral("uploadStatus"), d.progressReported);
            item.insert(QStringLiteral("progress"), qint64(d.upgradeProgress));
            list.append(item);
        }
        QJsonObject data{{QStringLiteral("deviceInfo"), list}};
        QJsonObject top{{QStringLiteral("data"), data},
                        {QStringLiteral("errorMgs"), QString()},
                        {QStringLiteral("statusCode"), 1}};
        body = QJsonDocument(top).toJson(QJsonDocument::Compact);
        benchmark::DoNotOptimize(body.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * body.size());
}
BENCHMARK(BM_DeviceListQJsonDocument)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

namespace {
void BM_TimeText(benchmark::State& state) {
    qint64 t = 1657500000;
    for (auto _ : state) benchmark::DoNotOptimize(localTimeText(++t));
}
BENCHMARK(BM_TimeText);
}  // namespace
