#include "api/legacy/EntityJson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QStringList>
#include <QUuid>

#include "core/JsonText.h"
#include "core/LocalTime.h"
#include "files/FileSuffix.h"

namespace {

// Splits the query after the first "?" at every "&" (empty parts kept). Each part is matched
// against the keys in order by containment, not by prefix: the first key found wins and the
// value is the part with every occurrence of that key removed. Later parts override earlier
// ones. The browser pages rely on this loose matching, so it is kept as it is.
template <typename Apply>
bool applyQuery(const QString& url, const QStringList& keys, Apply apply) {
    if (url.isEmpty()) return false;
    const int question = url.indexOf(QLatin1Char('?'));
    if (question < 0) return false;
    const QStringList parts = url.mid(question + 1).split(QLatin1Char('&'));
    if (parts.isEmpty()) return false;
    for (const QString& part : parts) {
        for (int k = 0; k < keys.size(); ++k) {
            if (!part.contains(keys[k])) continue;
            QString value = part;
            value.remove(keys[k]);
            apply(k, value);
            break;
        }
    }
    return true;
}

QJsonObject envelope(const char* listName, const QJsonArray& list, int statusCode,
                     const QString& errorMgs) {
    QJsonObject data;
    data.insert(QLatin1String(listName), list);
    QJsonObject top;
    top.insert(QStringLiteral("data"), data);
    top.insert(QStringLiteral("errorMgs"), errorMgs);
    top.insert(QStringLiteral("statusCode"), statusCode);
    return top;
}

}  // namespace

bool EntityJson::DeviceListToJson(int statusCode, const QString& errorMgs,
                                  const QList<struDeviceInfo>& devices, QByteArray& body) {
    // Written by hand: the whole fleet goes through here and QJsonObject was an order of magnitude
    // slower. The text is what QJsonDocument::Compact writes for the same members, which it
    // sorts by name (upper-case names first).
    QByteArray out;
    out.reserve(64 + devices.size() * 400);
    out.append("{\"data\":{\"deviceInfo\":[");
    bool first = true;
    for (const struDeviceInfo& d : devices) {
        if (!first) out.append(',');
        first = false;
        out.append("{\"AppVersion\":");
        JsonText::appendString(out, d.AppVersion);
        out.append(",\"FourGVersions\":");
        JsonText::appendString(out, d.FourGVersion);
        out.append(",\"GnssVersions\":");
        JsonText::appendString(out, d.GnssVersion);
        out.append(",\"McuVersion\":");
        JsonText::appendString(out, d.McuVersion);
        out.append(",\"SmartModule\":");
        JsonText::appendString(out, d.SmartModule);
        out.append(",\"deviceId\":");
        JsonText::appendString(out, d.devId);
        out.append(",\"deviceNo\":");
        JsonText::appendString(out, d.devSN);
        out.append(",\"deviceType\":");
        JsonText::appendString(out, d.devType);
        out.append(",\"id\":");
        out.append(QByteArray::number(d.id));
        out.append(",\"lastUpdateTime\":");
        JsonText::appendString(out, localTimeText(d.UpgradeCompletionTime));
        out.append(",\"phone\":");
        JsonText::appendString(out, d.PhoneNumber);
        out.append(",\"plateNo\":");
        JsonText::appendString(out, d.LicensePlateNumber);
        out.append(",\"progress\":");
        out.append(QByteArray::number(d.upgradeProgress));
        out.append(",\"uploadStatus\":");
        out.append(d.progressReported ? "true}" : "false}");
    }
    out.append("]},\"errorMgs\":");
    JsonText::appendString(out, errorMgs);
    out.append(",\"statusCode\":");
    out.append(QByteArray::number(statusCode));
    out.append('}');
    body = out;
    return true;
}

bool EntityJson::PackageListToJson(int statusCode, const QString& errorMgs,
                                   const QList<struPackageInfo>& packages, QByteArray& body) {
    QJsonArray list;
    for (const struPackageInfo& p : packages) {
        QJsonObject item;
        item.insert(QStringLiteral("id"), p.id);
        item.insert(QStringLiteral("name"), p.packageName);
        item.insert(QStringLiteral("AppVersion"), p.AppVersion);
        item.insert(QStringLiteral("McuVersion"), p.McuVersion);
        item.insert(QStringLiteral("FourGVersion"), p.FourGVersion);
        item.insert(QStringLiteral("GnssVersion"), p.GnssVersion);
        item.insert(QStringLiteral("SmartModule"), p.SmartModule);
        item.insert(QStringLiteral("size"), p.size);
        item.insert(QStringLiteral("uploadTime"), localTimeText(p.uploadTime));
        item.insert(QStringLiteral("deviceType"), p.deviceType);
        item.insert(QStringLiteral("sha256"), p.sha256);
        list.append(item);
    }
    body = QJsonDocument(envelope("packageList", list, statusCode, errorMgs))
               .toJson(QJsonDocument::Indented);
    return true;
}

bool EntityJson::ProgressListToJson(int statusCode, const QString& errorMgs,
                                    const QList<struDeviceInfo>& devices, QByteArray& body) {
    QJsonArray list;
    for (const struDeviceInfo& d : devices) {
        QJsonObject item;
        // The page keys progress by "deviceId" but shows the serial number.
        item.insert(QStringLiteral("deviceId"), d.devSN);
        item.insert(QStringLiteral("progress"), qint64(d.upgradeProgress));
        list.append(item);
    }
    body = QJsonDocument(envelope("progressList", list, statusCode, errorMgs))
               .toJson(QJsonDocument::Indented);
    return true;
}

bool EntityJson::ParseDeviceQuery(const QString& url, QString& deviceNo, QString& phoneNum) {
    static const QStringList keys{QStringLiteral("deviceNo="), QStringLiteral("phoneNum=")};
    return applyQuery(url, keys, [&](int key, const QString& value) {
        (key == 0 ? deviceNo : phoneNum) = value;
    });
}

bool EntityJson::ParseUploadParam(const QString& url, struUploadParam& param) {
    static const QStringList keys{
        QStringLiteral("name="),        QStringLiteral("app="),        QStringLiteral("mcu="),
        QStringLiteral("fourG="),       QStringLiteral("gnss="),       QStringLiteral("smart="),
        QStringLiteral("type="),        QStringLiteral("blockIndex="), QStringLiteral("blockSize="),
        QStringLiteral("totalLength="), QStringLiteral("uploadTime=")};
    param = struUploadParam();
    // Keys 0 to 6 are texts taken as they are; the numbers convert to 0 when they do not parse.
    QString* const texts[] = {&param.name, &param.app,   &param.mcu, &param.fourG,
                              &param.gnss, &param.smart, &param.type};
    return applyQuery(url, keys, [&](int key, const QString& value) {
        if (key < 7)
            *texts[key] = value;
        else if (key == 7)
            param.blockIndex = value.toInt(nullptr, 10);
        else if (key == 8)
            param.blockSize = value.toInt(nullptr, 10);
        else if (key == 9)
            param.totalLength = value.toULongLong(nullptr, 10);
        else
            param.uploadTime = value;
    });
}

bool EntityJson::ParseImportFileName(const QString& url, QString& fileName) {
    static const QString key = QStringLiteral("name=");
    if (url.isEmpty()) return false;
    const int at = url.indexOf(key);
    if (at < 0) return false;
    // Everything after "name=" counts, later parameters included: "list.csv&x=1" is refused.
    const QString name = url.mid(at + key.size());
    if (name.isEmpty()) return false;
    const QString suffix = fileSuffix(name);
    if (suffix.toLower() != QLatin1String("csv")) return false;
    // A fresh name, so nothing of the browser's name reaches the file system but the suffix.
    fileName = QStringLiteral("import") + QUuid::createUuid().toString(QUuid::WithBraces) +
               QLatin1Char('.') + suffix;
    return true;
}

bool EntityJson::ParsePackageId(const QByteArray& body, int& id) {
    if (body.isEmpty()) return false;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || doc.isNull() || !doc.isObject()) return false;
    const QJsonValue value = doc.object().value(QStringLiteral("id"));
    if (!value.isDouble()) return false;
    // Only whole numbers within 32 bits are ids; 5.7 or 1e10 give -1 and fail.
    const int parsed = value.toInt(-1);
    if (parsed == -1) return false;
    id = parsed;
    return true;
}
