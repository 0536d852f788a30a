#include "api/v2/CollectedFileJson.h"

#include <QUrl>

#include "api/v2/JsonRecord.h"

namespace {
struct Item {
    QString devSN;
    CollectedFiles::Entry entry;
};

QString segment(const QString& text) {
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

const JsonFields<Item>& fields() {
    static const JsonFields<Item> list{
        {"type", "string", "log, index, print or runInfo",
         [](const Item& i) { return QJsonValue(i.entry.type); }},
        {"reportTime", "string", "yyyyMMddHHmm of the report that asked for it",
         [](const Item& i) { return QJsonValue(i.entry.reportTime); }},
        {"name", "string", "", [](const Item& i) { return QJsonValue(i.entry.name); }},
        {"size", "integer", "bytes", [](const Item& i) { return QJsonValue(i.entry.size); }},
        {"modified", "integer", "seconds since the epoch",
         [](const Item& i) { return QJsonValue(i.entry.modified); }},
        {"download", "string", "path of the download, byte ranges honoured",
         [](const Item& i) {
             return QJsonValue(QStringLiteral("/KORVA/v2/devices/%1/files/%2/%3/%4")
                                   .arg(segment(i.devSN), i.entry.type, segment(i.entry.reportTime),
                                        segment(i.entry.name)));
         }},
    };
    return list;
}
}  // namespace

QJsonObject CollectedFileJson::row(const QString& devSN, const CollectedFiles::Entry& entry) {
    return recordJson(fields(), Item{devSN, entry});
}

QJsonObject CollectedFileJson::schemas() {
    return QJsonObject{{"CollectedFile", recordSchema(fields())}};
}
