#include "api/v2/RolloutPlanBody.h"

#include <cmath>

#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>

#include "api/v2/DeviceFilterParams.h"
#include "api/v2/OperationDoc.h"
#include "api/v2/PackageRoutes.h"
#include "api/v2/RouteReplies.h"
#include "db/DeviceListQuery.h"
#include "db/Tab_DeviceInfo.h"
#include "upgrade/rollout/RolloutSchedule.h"

namespace {
struct Member {
    const char* name;
    const char* type;
    const char* description;
};

const Member kPlanMembers[] = {
    {"stages", "array", "in order; each is a share, a list of serial numbers or a filter"},
    {"pauseAtFailures", "integer", "failures in the open stage that pause the rollout; 0: none"},
    {"pauseAtFailurePercent", "integer",
     "failed of attempted in the open stage (percent) that pauses the rollout; 0: none"},
    {"windows", "array",
     "maintenance windows \"HH:MM-HH:MM\" in the service's time zone (one may cross midnight); "
     "outside them no terminal is newly offered the package; at most 24. Absent or empty: any "
     "time"},
    {"startAt", "integer",
     "seconds since the epoch before which no terminal is newly offered the package; 0: at once"},
};

const Member kStageMembers[] = {
    {"percent", "number",
     "the type's terminals up to this share (0.01 to 100), counted from the first stage; "
     "shares grow from stage to stage"},
    {"serials", "array", "serial numbers"},
    {"filter", "object",
     "the device list's filter; taken as the terminals of the type it matches when the plan is "
     "set"},
    {"minMinutes", "number", "the least time the stage stays the open one (fractions allowed)"},
    {"successPercent", "integer",
     "succeeded of attempted (percent) for the next stage to open by itself; default 100"},
};

template <size_t N>
bool knownMembers(const QJsonObject& object, const Member (&members)[N], const QString& where,
                  QString& error) {
    for (auto it = object.begin(); it != object.end(); ++it) {
        bool known = false;
        for (const Member& member : members) known |= it.key() == QLatin1String(member.name);
        if (!known) {
            error = QStringLiteral("%1未知的字段 %2").arg(where, it.key());
            return false;
        }
    }
    return true;
}

// A number in [min, max] (a whole one when integer); absent gives fallback.
bool number(const QJsonObject& object, const char* name, double min, double max, bool integer,
            double fallback, const QString& where, double& out, QString& error) {
    const QJsonValue value = object.value(QLatin1String(name));
    if (value.isUndefined()) {
        out = fallback;
        return true;
    }
    out = value.toDouble();
    if (!value.isDouble() || out < min || out > max || (integer && out != std::floor(out))) {
        error = QStringLiteral("%1%2 须为 %3 到 %4 之间的%5")
                    .arg(where, QLatin1String(name))
                    .arg(min)
                    .arg(max)
                    .arg(integer ? QStringLiteral("整数") : QStringLiteral("数"));
        return false;
    }
    return true;
}

// The serial numbers of the package's type that the filter takes.
bool resolveFilter(const QJsonObject& filterJson, const struPackageInfo& package,
                   const QString& where, QStringList& serials, QString& error) {
    DeviceFilter filter;
    if (!DeviceFilterParams::fromJson(filterJson, filter, error)) {
        error = where + error;
        return false;
    }
    filter.equal << qMakePair(Tab_DeviceInfo::columns().indexOf(QStringLiteral("devType")),
                              package.deviceType);
    const bool ok = DeviceListQuery::forEach(
        filter, DeviceListQuery::Sort(), [&serials](const DeviceListRow& row) {
            serials << row.device.devSN;
            return serials.size() <= RolloutPlanBody::kMaxListed;
        });
    if (!ok) {
        error = QStringLiteral("数据库操作失败");
        return false;
    }
    if (serials.isEmpty()) {
        error = where + QStringLiteral("filter 未选中该类型的任何设备");
        return false;
    }
    return true;
}

bool readSerials(const QJsonValue& value, const QString& where, QStringList& serials,
                 QString& error) {
    const QJsonArray array = value.toArray();
    if (!value.isArray() || array.isEmpty()) {
        error = where + QStringLiteral("serials 须为非空数组");
        return false;
    }
    for (const QJsonValue& item : array) {
        if (!item.isString() || item.toString().trimmed().isEmpty()) {
            error = where + QStringLiteral("serials 须为非空字符串");
            return false;
        }
        serials << item.toString().trimmed();
    }
    return true;
}

// The plan's start time and windows.
bool readWhen(const QJsonObject& body, struRolloutPlan& plan, QString& error) {
    const QJsonValue windows = body.value("windows");
    QStringList texts;
    if (!windows.isUndefined()) {
        if (!windows.isArray()) {
            error = QStringLiteral("windows 须为数组");
            return false;
        }
        for (const QJsonValue& item : windows.toArray()) texts << item.toString();
    }
    double startAt = 0;
    if (!RolloutSchedule::read(texts, plan.windows, error) ||
        !number(body, "startAt", 0, 2147483647, true, 0, QString(), startAt, error))
        return false;
    plan.startAt = static_cast<qint32>(startAt);
    return true;
}

bool readStage(const QJsonValue& value, int position, const struPackageInfo& package,
               int& lastPoints, struRolloutStage& stage, QStringList& serials, QString& error) {
    const QString where = QStringLiteral("第%1阶段：").arg(position);
    const QJsonObject object = value.toObject();
    if (!value.isObject()) {
        error = where + QStringLiteral("须为对象");
        return false;
    }
    if (!knownMembers(object, kStageMembers, where, error)) return false;
    const int kinds = int(object.contains("percent")) + int(object.contains("serials")) +
                      int(object.contains("filter"));
    if (kinds != 1) {
        error = where + QStringLiteral("须给出 percent、serials、filter 之一");
        return false;
    }
    if (lastPoints >= kRolloutBuckets) {
        error = where + QStringLiteral("100% 的阶段之后不能再有阶段");
        return false;
    }
    stage.position = position;
    double minutes = 0;
    double success = 100;
    if (!number(object, "minMinutes", 0, 525600, false, 0, where, minutes, error) ||
        !number(object, "successPercent", 0, 100, true, 100, where, success, error))
        return false;
    stage.minSeconds = static_cast<qint32>(std::lround(minutes * 60));
    stage.successPercent = static_cast<qint32>(success);
    if (object.contains("percent")) {
        double percent = 0;
        if (!number(object, "percent", 0.01, 100, false, 0, where, percent, error)) return false;
        stage.sharePoints = static_cast<qint32>(std::lround(percent * 100));
        if (stage.sharePoints <= lastPoints) {
            error = where + QStringLiteral("percent 须大于前面阶段的 percent");
            return false;
        }
        lastPoints = stage.sharePoints;
        return true;
    }
    if (object.contains("filter")) {
        if (!object.value("filter").isObject()) {
            error = where + QStringLiteral("filter 须为对象");
            return false;
        }
        stage.filterJson = QString::fromUtf8(
            QJsonDocument(object.value("filter").toObject()).toJson(QJsonDocument::Compact));
        return resolveFilter(object.value("filter").toObject(), package, where, serials, error);
    }
    return readSerials(object.value("serials"), where, serials, error);
}
}  // namespace

bool RolloutPlanBody::read(const QJsonObject& body, const struPackageInfo& package,
                           struRolloutPlan& plan, QList<QPair<QString, int>>& listed,
                           QString& error) {
    if (!knownMembers(body, kPlanMembers, QString(), error)) return false;
    const QJsonArray stages = body.value("stages").toArray();
    if (!body.value("stages").isArray() || stages.isEmpty() || stages.size() > kMaxStages) {
        error = QStringLiteral("stages 须为 1 到 %1 个阶段的数组").arg(kMaxStages);
        return false;
    }
    double failures = 0;
    double failurePercent = 0;
    if (!number(body, "pauseAtFailures", 0, 1000000, true, 0, QString(), failures, error) ||
        !number(body, "pauseAtFailurePercent", 0, 100, true, 0, QString(), failurePercent, error))
        return false;
    if (failures == 0 && failurePercent == 0) {
        error = QStringLiteral("须给出 pauseAtFailures 或 pauseAtFailurePercent");
        return false;
    }
    struRolloutPlan read;
    if (!readWhen(body, read, error)) return false;
    read.pauseAtFailures = static_cast<qint32>(failures);
    read.pauseAtFailurePercent = static_cast<qint32>(failurePercent);
    QList<QPair<QString, int>> names;
    int lastPoints = 0;
    for (int i = 0; i < stages.size(); ++i) {
        struRolloutStage stage;
        QStringList serials;
        if (!readStage(stages.at(i), i + 1, package, lastPoints, stage, serials, error))
            return false;
        const QSet<QString> distinct(serials.begin(), serials.end());
        stage.listed = distinct.size();
        for (const QString& serial : distinct) names << qMakePair(serial, stage.position);
        if (names.size() > kMaxListed) {
            error = QStringLiteral("列出的序列号不能超过 %1 个").arg(kMaxListed);
            return false;
        }
        read.stages << stage;
    }
    plan = read;
    listed = names;
    return true;
}

bool RolloutPlanBody::readSchedule(const QJsonObject& body, struRolloutPlan& plan, QString& error) {
    for (auto it = body.begin(); it != body.end(); ++it)
        if (it.key() != QLatin1String("windows") && it.key() != QLatin1String("startAt")) {
            error = QStringLiteral("未知的字段 %1").arg(it.key());
            return false;
        }
    return readWhen(body, plan, error);
}

QJsonObject RolloutPlanBody::scheduleSchema() {
    QJsonObject properties;
    for (const Member& member : kPlanMembers)
        if (QLatin1String(member.name) == QLatin1String("startAt"))
            properties.insert(member.name, QJsonObject{{"type", member.type},
                                                       {"description", member.description}});
    properties.insert("windows", OperationDoc::arrayOf({{"type", "string"}}));
    return QJsonObject{{"type", "object"}, {"properties", properties}};
}

QJsonObject RolloutPlanBody::schemas() {
    const auto properties = [](const auto& members) {
        QJsonObject out;
        for (const Member& member : members)
            out.insert(member.name,
                       QJsonObject{{"type", member.type}, {"description", member.description}});
        return out;
    };
    QJsonObject stage{{"type", "object"},
                      {"description", "exactly one of percent, serials and filter"},
                      {"properties", properties(kStageMembers)}};
    QJsonObject stageProperties = stage.value("properties").toObject();
    stageProperties.insert("serials", OperationDoc::arrayOf({{"type", "string"}}));
    stageProperties.insert("filter", OperationDoc::ref("DeviceFilter"));
    stage.insert("properties", stageProperties);
    QJsonObject planProperties = properties(kPlanMembers);
    planProperties.insert("stages", OperationDoc::arrayOf(stage));
    QJsonObject windows = OperationDoc::arrayOf({{"type", "string"}, {"example", "01:00-05:00"}});
    windows.insert("description", planProperties.value("windows")["description"]);
    planProperties.insert("windows", windows);
    return QJsonObject{
        {"RolloutPlanInput",
         QJsonObject{{"type", "object"},
                     {"required", QJsonArray{"stages"}},
                     {"description",
                      "At least one of pauseAtFailures and pauseAtFailurePercent. A terminal "
                      "belongs to the first stage that lists it or whose share takes it (a "
                      "stable hash of the package and the serial number); stages are "
                      "cumulative."},
                     {"properties", planProperties}}}};
}

QJsonObject RolloutPlanBody::example() {
    return QJsonObject{
        {"stages",
         QJsonArray{QJsonObject{{"serials", QJsonArray{"SN0001", "SN0002"}},
                                {"minMinutes", 30},
                                {"successPercent", 100}},
                    QJsonObject{{"percent", 1}, {"minMinutes", 60}, {"successPercent", 95}},
                    QJsonObject{{"percent", 10}, {"minMinutes", 120}, {"successPercent", 95}},
                    QJsonObject{{"percent", 50}, {"minMinutes", 240}, {"successPercent", 98}},
                    QJsonObject{{"percent", 100}}}},
        {"pauseAtFailures", 3},
        {"pauseAtFailurePercent", 10}};
}

bool RolloutPlanBody::fromRequest(const ApiRequest& request, struPackageInfo& package,
                                  struRolloutPlan& plan, QList<QPair<QString, int>>& listed,
                                  ApiReply& failure) {
    if (!storedPackage(request.params.value(QStringLiteral("id")), package, failure)) return false;
    QJsonObject body;
    if (!RouteReplies::bodyObject(request, body, failure)) return false;
    QString error;
    if (read(body, package, plan, listed, error)) return true;
    failure = RouteReplies::badRequest(error);
    return false;
}
