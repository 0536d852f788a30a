// Export and import of a large device list, as the downLoadExcel / uploadExcel routes do.
#include <benchmark/benchmark.h>
#include <QTemporaryDir>

#include "files/DeviceListCsv.h"

namespace {

QList<struDeviceInfo> makeDevices(int count) {
    QList<struDeviceInfo> devices;
    devices.reserve(count);
    for (int i = 0; i < count; ++i) {
        struDeviceInfo d;
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
        d.ConfigCmd = (i % 10) ? QString() : QStringLiteral("apn,cmnet");
        d.isAutoUpdate = i % 2;
        devices << d;
    }
    return devices;
}

void BM_WriteCsvFile(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("list.csv"));
    const QList<struDeviceInfo> devices = makeDevices(int(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(DeviceListCsv::write(path, devices));
}
BENCHMARK(BM_WriteCsvFile)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_ReadImportCsv(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("list.csv"));
    DeviceListCsv::write(path, makeDevices(int(state.range(0))));
    QList<struDeviceInfo> out;
    for (auto _ : state) benchmark::DoNotOptimize(DeviceListCsv::read(path, out));
}
BENCHMARK(BM_ReadImportCsv)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
