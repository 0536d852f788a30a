// The query and body parsers must take any input, and the hand-written device list must stay
// byte for byte what QJsonDocument writes for any text, lone surrogates and controls included.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdlib>

#include "api/legacy/EntityJson.h"

namespace {

QByteArray referenceItemText(const QString& text) {
    QJsonObject item;
    item.insert("id", 1);
    item.insert("deviceId", text);
    item.insert("deviceNo", text);
    item.insert("deviceType", text);
    item.insert("plateNo", text);
    item.insert("phone", text);
    item.insert("AppVersion", text);
    item.insert("McuVersion", text);
    item.insert("FourGVersions", text);
    item.insert("GnssVersions", text);
    item.insert("SmartModule", text);
    item.insert("lastUpdateTime", QString(""));
    item.insert("uploadStatus", false);
    item.insert("progress", 0);
    QJsonObject top{{"data", QJsonObject{{"deviceInfo", QJsonArray{item}}}},
                    {"errorMgs", text},
                    {"statusCode", 1}};
    return QJsonDocument(top).toJson(QJsonDocument::Compact);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    EntityJson codec;

    const QString url = QString::fromUtf8(bytes);
    QString a, b;
    struUploadParam param;
    int id = 0;
    codec.ParseDeviceQuery(url, a, b);
    codec.ParseImportFileName(url, a);
    codec.ParseUploadParam(url, param);
    codec.ParsePackageId(bytes, id);

    // Raw UTF-16 units, so unpaired surrogates reach the writer too.
    const QString text(reinterpret_cast<const QChar*>(bytes.constData()), bytes.size() / 2);
    struDeviceInfo d;
    d.id = 1;
    d.devId = d.devSN = d.devType = d.LicensePlateNumber = d.PhoneNumber = text;
    d.AppVersion = d.McuVersion = d.FourGVersion = d.GnssVersion = d.SmartModule = text;
    QByteArray body;
    codec.DeviceListToJson(1, text, {d}, body);
    if (body != referenceItemText(text)) std::abort();
    return 0;
}
