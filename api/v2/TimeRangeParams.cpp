#include "api/v2/TimeRangeParams.h"

#include <QJsonObject>

namespace {
// Past 2106 a terminal's 32-bit times cannot follow.
constexpr qint64 kLatest = 0xFFFFFFFFLL;

bool readSeconds(const ApiRequest& request, const char* name, qint64& value, QString& error) {
    const QString text = request.queryValue(QLatin1String(name));
    if (text.isEmpty()) return true;
    bool ok = false;
    value = text.toLongLong(&ok);
    if (ok && value >= 0 && value <= kLatest) return true;
    error = QStringLiteral("%1 须为 1970 年以来的秒数（0 到 %2）")
                .arg(QLatin1String(name))
                .arg(kLatest);
    return false;
}
}  // namespace

bool TimeRangeParams::read(const ApiRequest& request, QString& error) {
    if (!readSeconds(request, "from", from, error) || !readSeconds(request, "to", to, error))
        return false;
    if (from > 0 && to > 0 && to <= from) {
        error = QStringLiteral("to 须晚于 from");
        return false;
    }
    return true;
}

QJsonArray TimeRangeParams::parameters(const QString& what) {
    const QJsonObject schema{{"type", "integer"}, {"minimum", 0}, {"maximum", kLatest}};
    return QJsonArray{
        QJsonObject{{"name", "from"},
                    {"in", "query"},
                    {"description", what + QStringLiteral(" at or after, seconds since 1970")},
                    {"schema", schema}},
        QJsonObject{{"name", "to"},
                    {"in", "query"},
                    {"description", what + QStringLiteral(" before, seconds since 1970")},
                    {"schema", schema}}};
}
