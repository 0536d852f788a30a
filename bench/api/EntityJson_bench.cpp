// Serialising the whole device list, as GET /KORVA/deviceList does for a large fleet.
#include <benchmark/benchmark.h>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "EntityJson.h"

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
        EntityJson::instance()->DeviceListToJson(1, QString(), devices, body);
        benchmark::DoNotOptimize(body.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * body.size());
}
BENCHMARK(BM_DeviceListToJson)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
