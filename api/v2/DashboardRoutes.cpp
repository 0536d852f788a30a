#include "api/v2/DashboardRoutes.h"

#include <algorithm>
#include <mutex>

#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QMap>
#include <QPair>

#include "api/v2/ListParams.h"
#include "api/v2/OperationDoc.h"
#include "api/v2/RouteReplies.h"
#include "db/FleetCounts.h"
#include "db/Tab_DeviceEvent.h"
#include "db/Tab_FleetSample.h"

namespace {
// Versions shown per device type and component; the rarer ones are summed under "".
constexpr int kVersionsShown = 8;
constexpr int kLongestDays = 366;
constexpr int kMostPoints = 400;
constexpr qint64 kCountsKeptMs = 30000;
constexpr int kCountsHeld = 64;

QString isoTime(qint64 seconds) {
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(Qt::ISODate);
}

// A whole number within [low, high], fallback when absent.
bool readNumber(const ApiRequest& request, const char* name, int low, int high, int fallback,
                int& value, QString& error) {
    const QString text = request.queryValue(QLatin1String(name));
    bool ok = true;
    value = text.isEmpty() ? fallback : text.toInt(&ok);
    if (ok && value >= low && value <= high) return true;
    error = QStringLiteral("%1 须为 %2 到 %3 的整数").arg(QLatin1String(name)).arg(low).arg(high);
    return false;
}

QJsonArray versionsJson(const QList<FleetCounts::Version>& versions) {
    QJsonArray items;
    QHash<QString, int> shown;  // per type and component
    QHash<QString, int> others;
    for (const FleetCounts::Version& row : versions) {
        const QString group = row.devType + QLatin1Char('\n') + row.component;
        if (shown[group]++ < kVersionsShown)
            items.append(QJsonObject{{"devType", row.devType},
                                     {"component", row.component},
                                     {"version", row.version},
                                     {"terminals", row.terminals},
                                     {"others", false}});
        else
            others[group] += row.terminals;
    }
    for (auto it = others.constBegin(); it != others.constEnd(); ++it) {
        const QStringList group = it.key().split(QLatin1Char('\n'));
        items.append(QJsonObject{{"devType", group.value(0)},
                                 {"component", group.value(1)},
                                 {"version", QString()},
                                 {"terminals", it.value()},
                                 {"others", true}});
    }
    return items;
}

// Each series thinned to at most kMostPoints (the newest always kept): a month of samples every
// few minutes is more than a chart has pixels for.
QList<struFleetSample> thinned(const QList<struFleetSample>& series) {
    const int step = (series.size() + kMostPoints - 1) / kMostPoints;
    if (step <= 1) return series;
    QList<struFleetSample> kept;
    for (int i = (series.size() - 1) % step; i < series.size(); i += step) kept << series[i];
    return kept;
}

// The online series, and the rollouts sampled at the latest period: those still running.
void historyJson(const QList<struFleetSample>& samples, QJsonArray& online, QJsonArray& rollouts) {
    qint32 latest = 0;
    QMap<QString, QList<struFleetSample>> bySeries;  // oldest first, as read
    for (const struFleetSample& sample : samples) {
        latest = std::max(latest, sample.periodStart);
        bySeries[sample.series] << sample;
    }
    for (auto it = bySeries.constBegin(); it != bySeries.constEnd(); ++it) {
        const QList<struFleetSample> series = thinned(it.value());
        if (it.key() == QLatin1String(kSeriesOnline)) {
            for (const struFleetSample& sample : series)
                online.append(QJsonObject{{"time", isoTime(sample.periodStart)},
                                          {"online", sample.done},
                                          {"total", sample.total}});
            continue;
        }
        if (series.last().periodStart != latest) continue;
        QJsonArray points;
        for (const struFleetSample& sample : series)
            points.append(QJsonObject{{"time", isoTime(sample.periodStart)},
                                      {"succeeded", sample.done},
                                      {"failed", sample.failed},
                                      {"total", sample.total}});
        rollouts.append(
            QJsonObject{{"packageId", it.key().mid(int(qstrlen(kSeriesRolloutPrefix))).toInt()},
                        {"packageName", series.last().label},
                        {"points", points}});
    }
}

// The counts over every terminal, kept a little while: an open dashboard on each of several
// operators' screens costs the database one pass per kCountsKeptMs, not one per screen.
struct Counts {
    QJsonObject terminals;
    QJsonArray versions;
    QJsonArray days;
};

bool fleetCounts(int days, int offsetMinutes, qint32 now, Counts& counts) {
    static std::mutex mutex;
    static QHash<QPair<int, int>, QPair<qint64, Counts>> kept;
    const qint64 at = QDateTime::currentMSecsSinceEpoch();
    const QPair<int, int> key(days, offsetMinutes);
    {
        std::lock_guard<std::mutex> lock(mutex);
        const auto found = kept.constFind(key);
        if (found != kept.constEnd() && at - found->first < kCountsKeptMs) {
            counts = found->second;
            return true;
        }
    }
    QList<FleetCounts::Version> versions;
    QList<FleetCounts::Day> perDay;
    int online = 0;
    int total = 0;
    if (!FleetCounts::versions(versions) ||
        !FleetCounts::upgradesPerDay(now - days * 86400, offsetMinutes * 60, perDay) ||
        !FleetCounts::terminals(online, total))
        return false;
    counts.terminals = QJsonObject{{"online", online}, {"total", total}};
    counts.versions = versionsJson(versions);
    counts.days = QJsonArray();
    for (const FleetCounts::Day& day : perDay)
        counts.days.append(
            QJsonObject{{"day", QDateTime::fromSecsSinceEpoch(day.day * 86400, Qt::UTC)
                                    .toString(QStringLiteral("yyyy-MM-dd"))},
                        {"started", day.started},
                        {"succeeded", day.succeeded},
                        {"failed", day.failed}});
    std::lock_guard<std::mutex> lock(mutex);
    // Bounded: the parameters a page sends are few, anything else is dropped together.
    if (kept.size() >= kCountsHeld) kept.clear();
    kept.insert(key, qMakePair(at, counts));
    return true;
}

ApiReply dashboard(const ApiRequest& request) {
    int days = 0;
    int offsetMinutes = 0;
    QString error;
    if (!readNumber(request, "days", 1, kLongestDays, 7, days, error) ||
        !readNumber(request, "utcOffsetMinutes", -16 * 60, 16 * 60, 0, offsetMinutes, error))
        return RouteReplies::badRequest(error);
    const auto now = static_cast<qint32>(QDateTime::currentSecsSinceEpoch());
    Counts counts;
    QList<struFleetSample> samples;
    if (!fleetCounts(days, offsetMinutes, now, counts) ||
        !Tab_FleetSample::since(now - days * 86400, samples))
        return RouteReplies::databaseFailed();
    QJsonArray onlineItems;
    QJsonArray rolloutItems;
    historyJson(samples, onlineItems, rolloutItems);
    return RouteReplies::ok({{"terminals", counts.terminals},
                             {"versions", counts.versions},
                             {"upgradesPerDay", counts.days},
                             {"online", onlineItems},
                             {"rollouts", rolloutItems}});
}

ApiReply events(const ApiRequest& request) {
    ListParams page;
    QString error;
    if (!page.read(request, error)) return RouteReplies::badRequest(error);
    QList<struDeviceEvent> events;
    qint64 total = 0;
    if (!Tab_DeviceEvent::page(request.params.value(QStringLiteral("devSN")), page.offset,
                               page.limit, events, total))
        return RouteReplies::databaseFailed();
    QJsonArray items;
    for (const struDeviceEvent& event : events)
        items.append(QJsonObject{{"id", event.id},
                                 {"time", isoTime(event.at)},
                                 {"kind", event.kind},
                                 {"detail", event.detail}});
    return RouteReplies::ok(
        {{"total", total}, {"offset", page.offset}, {"limit", page.limit}, {"events", items}});
}

QJsonObject integer() {
    return QJsonObject{{"type", "integer"}};
}

QJsonObject text() {
    return QJsonObject{{"type", "string"}};
}

QJsonObject dashboardDoc() {
    const QJsonObject versions =
        OperationDoc::object({{"devType", text()},
                              {"component", text()},
                              {"version", text()},
                              {"terminals", integer()},
                              {"others", QJsonObject{{"type", "boolean"}}}});
    const QJsonObject day = OperationDoc::object(
        {{"day", text()}, {"started", integer()}, {"succeeded", integer()}, {"failed", integer()}});
    const QJsonObject online =
        OperationDoc::object({{"time", text()}, {"online", integer()}, {"total", integer()}});
    const QJsonObject point = OperationDoc::object(
        {{"time", text()}, {"succeeded", integer()}, {"failed", integer()}, {"total", integer()}});
    const QJsonObject rollout = OperationDoc::object({{"packageId", integer()},
                                                      {"packageName", text()},
                                                      {"points", OperationDoc::arrayOf(point)}});
    const QJsonObject body = OperationDoc::object(
        {{"terminals", OperationDoc::object({{"online", integer()}, {"total", integer()}})},
         {"versions", OperationDoc::arrayOf(versions)},
         {"upgradesPerDay", OperationDoc::arrayOf(day)},
         {"online", OperationDoc::arrayOf(online)},
         {"rollouts", OperationDoc::arrayOf(rollout)}});
    QJsonObject daysSchema{{"type", "integer"}, {"minimum", 1}, {"maximum", kLongestDays}};
    daysSchema.insert("description", "history shown, 7 when absent");
    const QJsonObject offsetSchema{{"type", "integer"},
                                   {"minimum", -16 * 60},
                                   {"maximum", 16 * 60},
                                   {"description", "minutes east of UTC where days begin"}};
    return {{"parameters", QJsonArray{OperationDoc::queryParam("days", daysSchema),
                                      OperationDoc::queryParam("utcOffsetMinutes", offsetSchema)}},
            {"responses",
             QJsonObject{{"200", OperationDoc::json("The fleet's counts and history", body)},
                         {"400", OperationDoc::error("A parameter is out of range")},
                         {"500", OperationDoc::error("The database failed")}}}};
}

QJsonObject eventsDoc() {
    const QJsonObject event = OperationDoc::object(
        {{"id", integer()}, {"time", text()}, {"kind", text()}, {"detail", text()}});
    QJsonArray parameters{OperationDoc::pathParam("devSN", "serial number", "SN0001")};
    for (const QJsonValue& parameter : ListParams::parameters()) parameters.append(parameter);
    return {
        {"parameters", parameters},
        {"responses",
         QJsonObject{{"200", OperationDoc::json(
                                 "One page, newest first",
                                 OperationDoc::object({{"total", integer()},
                                                       {"offset", integer()},
                                                       {"limit", integer()},
                                                       {"events", OperationDoc::arrayOf(event)}}))},
                     {"400", OperationDoc::error("Bad paging")},
                     {"500", OperationDoc::error("The database failed")}}}};
}
}  // namespace

ApiGroup dashboardRoutes() {
    ApiGroup group;
    group.tag = QStringLiteral("dashboard");
    group.routes = {
        {"GET", QStringLiteral("/KORVA/v2/dashboard"), Role::Viewer, QStringLiteral("getDashboard"),
         QStringLiteral("Versions, upgrades per day and the history of terminals online and of "
                        "running rollouts"),
         dashboard, OperationDoc::text(dashboardDoc())},
        {"GET", QStringLiteral("/KORVA/v2/devices/{devSN}/events"), Role::Viewer,
         QStringLiteral("listDeviceEvents"), QStringLiteral("A terminal's timeline, newest first"),
         events, OperationDoc::text(eventsDoc())},
    };
    return group;
}
