#include "api/v2/DeviceFilterParams.h"

#include <algorithm>
#include <functional>

#include "api/auth/DeviceIdView.h"
#include "api/v2/ListParams.h"
#include "api/v2/StallClock.h"
#include "db/Tab_DeviceInfo.h"
#include "model/ComponentVersions.h"

namespace {
enum class Kind { Search, Equal, NotEqual, Online, Pending, Upgrade };

struct Param {
    QString name;
    Kind kind;
    QString column;  // for Equal and NotEqual
    QString description;
    QString example;
};

const QStringList kOnline{"true", "false"};
const QStringList kPending{"forced", "command", "file", "any", "none"};
const QStringList kUpgrade{"none", "running", "stalled", "completed"};

const QList<Param>& params() {
    static const QList<Param> list = [] {
        QList<Param> out{
            {"q", Kind::Search, QString(),
             "substring of serial number, plate, phone number, device ID or type (ASCII case "
             "ignored); device IDs only for operators and above",
             "C722"},
            {"devType", Kind::Equal, "devType", "device type", QString()},
        };
        for (const ComponentVersion& version : kComponentVersions) {
            const QString name = QLatin1String(version.name);
            out << Param{name, Kind::Equal, name, name + " equal to the value", QString()}
                << Param{name + "Not", Kind::NotEqual, name,
                         name +
                             " not equal to the value (a missing version counts as "
                             "different)",
                         QString()};
        }
        out << Param{"online", Kind::Online, QString(), "connected or not", QString()}
            << Param{"pending", Kind::Pending, QString(),
                     "requests waiting for the next report: forced upgrade, command, a file "
                     "request, any of them or none",
                     QString()}
            << Param{"upgradeState", Kind::Upgrade, QString(),
                     "the terminal's current upgrade attempt: none ever, running, stalled "
                     "(no progress for UpgradeStallMinutes) or completed",
                     QString()};
        return out;
    }();
    return list;
}

const QStringList& choices(Kind kind) {
    static const QStringList none;
    switch (kind) {
        case Kind::Online:
            return kOnline;
        case Kind::Pending:
            return kPending;
        case Kind::Upgrade:
            return kUpgrade;
        default:
            return none;
    }
}

bool apply(const Param& param, const QString& value, DeviceFilter& filter, QString& error) {
    const QStringList& allowed = choices(param.kind);
    const int choice = allowed.indexOf(value);
    if (!allowed.isEmpty() && choice < 0) {
        error = QStringLiteral("%1 must be one of %2").arg(param.name, allowed.join(", "));
        return false;
    }
    const int column = Tab_DeviceInfo::columns().indexOf(param.column);
    switch (param.kind) {
        case Kind::Search:
            filter.q = value;
            break;
        case Kind::Equal:
            filter.equal << qMakePair(column, value);
            break;
        case Kind::NotEqual:
            filter.notEqual << qMakePair(column, value);
            break;
        case Kind::Online:
            filter.online = choice == 0 ? DeviceFilter::Online::Yes : DeviceFilter::Online::No;
            break;
        case Kind::Pending: {
            const DeviceFilter::Pending pending[] = {
                DeviceFilter::Pending::Forced, DeviceFilter::Pending::Command,
                DeviceFilter::Pending::File, DeviceFilter::Pending::Some,
                DeviceFilter::Pending::None};
            filter.pending = pending[choice];
            break;
        }
        case Kind::Upgrade: {
            const DeviceFilter::Upgrade upgrade[] = {
                DeviceFilter::Upgrade::None, DeviceFilter::Upgrade::Running,
                DeviceFilter::Upgrade::Stalled, DeviceFilter::Upgrade::Completed};
            filter.upgrade = upgrade[choice];
            break;
        }
    }
    return true;
}

bool read(const std::function<QString(const QString&)>& value, DeviceFilter& filter,
          QString& error) {
    filter = DeviceFilter();
    filter.stalledBefore = stalledBefore();
    for (const Param& param : params()) {
        const QString text = value(param.name);
        if (!text.isEmpty() && !apply(param, text, filter, error)) return false;
    }
    return true;
}

QJsonObject schemaOf(const Param& param) {
    QJsonObject schema{{"type", "string"}, {"description", param.description}};
    const QStringList& allowed = choices(param.kind);
    if (!allowed.isEmpty()) schema.insert("enum", QJsonArray::fromStringList(allowed));
    if (!param.example.isEmpty()) schema.insert("example", param.example);
    return schema;
}
}  // namespace

bool DeviceFilterParams::fromQuery(const ApiRequest& request, DeviceFilter& filter,
                                   QString& error) {
    if (!read([&request](const QString& name) { return request.queryValue(name); }, filter, error))
        return false;
    filter.searchDeviceId = DeviceIdView::seesWhole(request.role);
    return true;
}

bool DeviceFilterParams::fromJson(const QJsonObject& object, DeviceFilter& filter, QString& error) {
    for (auto it = object.begin(); it != object.end(); ++it) {
        const bool known = std::any_of(params().begin(), params().end(),
                                       [&it](const Param& p) { return p.name == it.key(); });
        if (!known) {
            error = QStringLiteral("unknown filter member %1").arg(it.key());
            return false;
        }
        if (!it.value().isString() && !it.value().isBool()) {
            error = QStringLiteral("filter member %1 must be a string").arg(it.key());
            return false;
        }
    }
    return read(
        [&object](const QString& name) {
            const QJsonValue value = object.value(name);
            if (value.isBool())
                return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
            return value.toString();
        },
        filter, error);
}

QJsonArray DeviceFilterParams::queryParameters() {
    QJsonArray out;
    for (const Param& param : params())
        out.append(QJsonObject{{"name", param.name}, {"in", "query"}, {"schema", schemaOf(param)}});
    return out;
}

QJsonObject DeviceFilterParams::schemas() {
    QJsonObject properties;
    for (const Param& param : params()) {
        QJsonObject schema = schemaOf(param);
        if (param.kind == Kind::Online) {  // a boolean is taken too
            const QString description = schema.take("description").toString();
            schema = QJsonObject{{"description", description},
                                 {"anyOf", QJsonArray{schema, QJsonObject{{"type", "boolean"}}}}};
        }
        properties.insert(param.name, schema);
    }
    return QJsonObject{
        {"DeviceFilter",
         QJsonObject{{"type", "object"},
                     {"description", "every condition given must hold; {} takes every terminal"},
                     {"properties", properties},
                     {"additionalProperties", false}}}};
}
