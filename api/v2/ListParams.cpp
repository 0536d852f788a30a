#include "api/v2/ListParams.h"

#include <QJsonObject>

namespace {
bool readNumber(const ApiRequest& request, const char* name, int low, int high, int& value,
                QString& error) {
    const QString text = request.queryValue(QLatin1String(name));
    if (text.isEmpty()) return true;
    bool ok = false;
    const int number = text.toInt(&ok);
    if (!ok || number < low || number > high) {
        error = QStringLiteral("%1 must be a whole number from %2 to %3")
                    .arg(QLatin1String(name))
                    .arg(low)
                    .arg(high);
        return false;
    }
    value = number;
    return true;
}
}  // namespace

bool ListParams::read(const ApiRequest& request, QString& error) {
    return readNumber(request, "offset", 0, 1 << 30, offset, error) &&
           readNumber(request, "limit", 1, kMaxLimit, limit, error);
}

QJsonArray ListParams::parameters() {
    const QJsonObject offset{{"name", "offset"},
                             {"in", "query"},
                             {"description", "rows to skip"},
                             {"schema", QJsonObject{{"type", "integer"}, {"minimum", 0}}}};
    const QJsonObject limit{
        {"name", "limit"},
        {"in", "query"},
        {"description", "rows per page, 50 when absent"},
        {"schema",
         QJsonObject{
             {"type", "integer"}, {"minimum", 1}, {"maximum", kMaxLimit}, {"example", 20}}}};
    return QJsonArray{offset, limit};
}
