// A few packets made by the terminal's side of the codec, recorded with their inputs in
// reference_packets.json, where the fake terminals written in other languages (the browser
// tests', the benchmarks') check their bytes. WAYFARER_RECORD_PACKETS=1 records them afresh.
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include "codec/TerminalPackets.h"

namespace {
const std::pair<const char*, QString DeviceReport::*> kReportFields[] = {
    {"devSN", &DeviceReport::devSN},
    {"devType", &DeviceReport::devType},
    {"LicensePlateNumber", &DeviceReport::LicensePlateNumber},
    {"PhoneNumber", &DeviceReport::PhoneNumber},
    {"AppVersion", &DeviceReport::AppVersion},
    {"McuVersion", &DeviceReport::McuVersion},
    {"FourGVersion", &DeviceReport::FourGVersion},
    {"GnssVersion", &DeviceReport::GnssVersion},
    {"SmartModule", &DeviceReport::SmartModule},
    {"Reserve", &DeviceReport::Reserve},
};

QJsonObject sample(const char* kind, Command cmd, const QString& devId, quint16 serialNo,
                   const QByteArray& body) {
    const QByteArray packet = TerminalPackets::frame(code(cmd), devId.toUtf8(), serialNo, body);
    return {{"kind", kind},
            {"devId", devId},
            {"serialNo", serialNo},
            {"hex", QString::fromLatin1(packet.toHex())}};
}

QJsonObject report(const QString& devId, quint16 serialNo, const DeviceReport& report) {
    QJsonObject out = sample("report", Command::Report, devId, serialNo, report.body(false));
    QJsonObject fields;
    for (const auto& field : kReportFields) fields.insert(field.first, report.*field.second);
    out.insert("report", fields);
    return out;
}

QJsonArray samples() {
    DeviceReport full;
    full.devSN = "REF0001";
    full.devType = "T1";
    full.LicensePlateNumber = QStringLiteral("京A12345");
    full.PhoneNumber = "13800138000";
    full.AppVersion = "V5.3.0 build220711";
    full.McuVersion = "M1.0";
    full.FourGVersion = "G1.0";
    full.GnssVersion = "N1.0";
    full.SmartModule = "S1.0";
    DeviceReport bare;  // what the capacity benchmark's terminals send
    bare.devSN = "CAP000001";
    bare.devType = "CAP";
    QJsonObject progress =
        sample("progress", Command::Progress, "ID-REF0001", 2, TerminalPackets::progressBody(40));
    progress.insert("percent", 40);
    return {report("ID-REF0001", 1, full), report("CAP000001", 65535, bare), progress};
}
}  // namespace

TEST(ReferencePackets, RecordedFileIsWhatTheCodecBuilds) {
    const QByteArray made = QJsonDocument(samples()).toJson();
    QFile file(QStringLiteral(WAYFARER_REFERENCE_PACKETS));
    if (qEnvironmentVariableIsSet("WAYFARER_RECORD_PACKETS")) {
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(made), made.size());
        GTEST_SKIP() << "recorded " << file.fileName().toStdString();
    }
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
    EXPECT_EQ(file.readAll().toStdString(), made.toStdString())
        << "run with WAYFARER_RECORD_PACKETS=1 to record what the codec builds now";
}
