#include "api/v2/RolloutFailureRoutes.h"

#include <QDateTime>
#include <QJsonArray>
#include <QSet>

#include "api/v2/ListParams.h"
#include "api/v2/OperationDoc.h"
#include "api/v2/PackageRoutes.h"
#include "api/v2/RouteReplies.h"
#include "api/v2/StallClock.h"
#include "api/v2/UpgradeAttemptJson.h"
#include "db/Tab_RetryRelease.h"
#include "files/CsvOpt.h"
#include "upgrade/rollout/RolloutControl.h"

namespace {
// The most rows one export carries.
constexpr int kLongestExport = 100000;

struct Report {
    struPackageInfo package;
    int retryLimit = 0;
    QList<Tab_UpgradeAttempt::Failed> rows;
    QSet<QString> held;
    int total = 0;
};

bool reportOf(const ApiRequest& request, int offset, int limit, Report& report, ApiReply& failure) {
    if (!storedPackage(request.params.value(QStringLiteral("id")), report.package, failure))
        return false;
    report.retryLimit = static_cast<int>(request.parameters().UpgradeRetryLimit);
    QList<Tab_RetryRelease::Held> held;
    const bool ok = Tab_UpgradeAttempt::failedTerminals(report.package.id,
                                                        report.package.packageName, stalledBefore(),
                                                        offset, limit, report.rows, report.total) &&
                    (report.retryLimit <= 0 ||
                     Tab_RetryRelease::held(report.package.id, report.package.packageName,
                                            report.retryLimit, held));
    if (!ok) {
        failure = RouteReplies::databaseFailed();
        return false;
    }
    for (const Tab_RetryRelease::Held& h : held) report.held.insert(h.devSN);
    return true;
}

ApiReply list(const ApiRequest& request) {
    ListParams paging;
    QString error;
    if (!paging.read(request, error)) return RouteReplies::badRequest(error);
    Report report;
    ApiReply failure;
    if (!reportOf(request, paging.offset, paging.limit, report, failure)) return failure;
    QJsonArray items;
    for (const Tab_UpgradeAttempt::Failed& row : report.rows) {
        Tab_UpgradeAttempt::Row last;
        last.attempt = row.last;
        last.result = row.lastResult;
        items.append(QJsonObject{{"devSN", row.devSN},
                                 {"attempts", row.attempts},
                                 {"notTaken", row.notTaken},
                                 {"held", report.held.contains(row.devSN)},
                                 {"last", UpgradeAttemptJson::row(last)}});
    }
    return RouteReplies::ok({{"packageName", report.package.packageName},
                             {"retryLimit", report.retryLimit},
                             {"held", report.held.size()},
                             {"total", report.total},
                             {"offset", paging.offset},
                             {"limit", paging.limit},
                             {"items", items}});
}

QString timeText(qint32 at) {
    return at > 0
               ? QDateTime::fromSecsSinceEpoch(at).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
               : QString();
}

ApiReply csv(const ApiRequest& request) {
    Report report;
    ApiReply failure;
    if (!reportOf(request, 0, kLongestExport, report, failure)) return failure;
    // The byte order mark makes spreadsheet programs read the file as UTF-8.
    QByteArray text = CsvOpt::fileStart(CsvOpt::Charset::Utf8);
    text += CsvOpt::EncodeCsvLine(
        {QStringLiteral("序列号"), QStringLiteral("尝试次数"), QStringLiteral("安装未生效次数"),
         QStringLiteral("最后结果"), QStringLiteral("最后开始时间"), QStringLiteral("最后进度"),
         QStringLiteral("已扣留")},
        CsvOpt::Charset::Utf8);
    for (const Tab_UpgradeAttempt::Failed& row : report.rows)
        text += CsvOpt::EncodeCsvLine(
            {row.devSN, row.attempts, row.notTaken, row.lastResult, timeText(row.last.startedAt),
             row.last.lastProgress,
             report.held.contains(row.devSN) ? QStringLiteral("是") : QStringLiteral("否")},
            CsvOpt::Charset::Utf8);
    ApiReply reply = ApiReply::json(200, text);
    reply.contentType = "text/csv; charset=utf-8";
    reply.headers.append(qMakePair(
        QByteArray("Content-Disposition"),
        QStringLiteral("attachment; filename=\"failed-%1.csv\"").arg(report.package.id).toUtf8()));
    return reply;
}

ApiReply release(const ApiRequest& request) {
    struPackageInfo package;
    ApiReply failure;
    if (!storedPackage(request.params.value(QStringLiteral("id")), package, failure))
        return failure;
    QJsonObject body;
    if (!RouteReplies::bodyObject(request, body, failure)) return failure;
    const QString devSN = body.value("devSN").toString().trimmed();
    const bool all = body.value("all").toBool();
    if (body.size() != 1 || (devSN.isEmpty() == !all))
        return RouteReplies::badRequest(QStringLiteral("须给出 devSN 或 \"all\":true 之一"));
    int released = 0;
    QString summary;
    switch (RolloutControl::release(package, devSN,
                                    static_cast<int>(request.parameters().UpgradeRetryLimit),
                                    released, summary)) {
        case RolloutControl::Result::Done:
            request.audit(QStringLiteral("retry_release"), summary);
            return RouteReplies::ok({{"released", released}});
        case RolloutControl::Result::Conflict:
            return ApiReply::error(409, QStringLiteral("conflict"), summary);
        default:
            break;
    }
    return RouteReplies::databaseFailed();
}

QJsonObject listDoc() {
    QJsonArray parameters{OperationDoc::pathParam("id", "package id", "1")};
    for (const QJsonValue& p : ListParams::parameters()) parameters.append(p);
    const QJsonObject item = OperationDoc::object(
        {{"devSN", QJsonObject{{"type", "string"}}},
         {"attempts", QJsonObject{{"type", "integer"}, {"description", "of this upload"}}},
         {"notTaken",
          QJsonObject{{"type", "integer"}, {"description", "installs that did not take"}}},
         {"held", QJsonObject{{"type", "boolean"}, {"description", "held at the retry limit"}}},
         {"last", OperationDoc::ref("UpgradeAttempt")}});
    const QJsonObject page = OperationDoc::object(
        {{"packageName", QJsonObject{{"type", "string"}, {"description", "the upload"}}},
         {"retryLimit", QJsonObject{{"type", "integer"}, {"description", "0: no limit"}}},
         {"held", QJsonObject{{"type", "integer"}, {"description", "terminals held back"}}},
         {"total", QJsonObject{{"type", "integer"}}},
         {"offset", QJsonObject{{"type", "integer"}}},
         {"limit", QJsonObject{{"type", "integer"}}},
         {"items", OperationDoc::arrayOf(item)}});
    return {{"description",
             "Terminals with an attempt for the package's current upload that failed (notTaken, "
             "stalled or abandoned) and none that succeeded, by serial number, each with its "
             "last attempt."},
            {"parameters", parameters},
            {"responses", QJsonObject{{"200", OperationDoc::json("One page", page)},
                                      {"400", OperationDoc::error("A parameter is invalid")},
                                      {"404", OperationDoc::error("No such package")},
                                      {"500", OperationDoc::error("The database failed")}}}};
}

QJsonObject csvDoc() {
    return {{"description",
             "The same terminals, all of them (up to 100000), as CSV (UTF-8 with "
             "byte order mark)."},
            {"parameters", QJsonArray{OperationDoc::pathParam("id", "package id", "1")}},
            {"responses", QJsonObject{{"200", OperationDoc::file("CSV file", "text/csv")},
                                      {"404", OperationDoc::error("No such package")},
                                      {"500", OperationDoc::error("The database failed")}}}};
}

QJsonObject releaseDoc() {
    const QJsonObject body{
        {"type", "object"},
        {"description", "exactly one of devSN (one terminal) and all (every held terminal)"},
        {"properties", QJsonObject{{"devSN", QJsonObject{{"type", "string"}}},
                                   {"all", QJsonObject{{"type", "boolean"}}}}}};
    return {{"description",
             "A terminal held back at the retry limit (UpgradeRetryLimit installs of the upload "
             "that did not take) is offered the package again at its next report; it is held "
             "again after as many further failures."},
            {"parameters", QJsonArray{OperationDoc::pathParam("id", "package id", "1")}},
            {"requestBody", OperationDoc::jsonBody(body, QJsonObject{{"all", true}})},
            {"responses",
             QJsonObject{
                 {"200", OperationDoc::json("Released",
                                            OperationDoc::object(
                                                {{"released", QJsonObject{{"type", "integer"}}}}))},
                 {"400", OperationDoc::error("The body is not valid")},
                 {"404", OperationDoc::error("No such package")},
                 {"409", OperationDoc::error("The terminal is not held")},
                 {"500", OperationDoc::error("The database failed")}}}};
}
}  // namespace

ApiGroup rolloutFailureRoutes() {
    ApiGroup group;
    group.tag = QStringLiteral("rollout failures");
    group.schemas = OperationDoc::schemas({UpgradeAttemptJson::schemas()});
    group.routes = {
        {"GET", QStringLiteral("/KORVA/v2/packages/{id}/failed"), Role::Viewer,
         QStringLiteral("listFailedTerminals"),
         QStringLiteral("The terminals whose upgrade to the package failed"), list,
         OperationDoc::text(listDoc())},
        {"GET", QStringLiteral("/KORVA/v2/packages/{id}/failed.csv"), Role::Viewer,
         QStringLiteral("exportFailedTerminals"),
         QStringLiteral("The terminals whose upgrade to the package failed, as CSV"), csv,
         OperationDoc::text(csvDoc())},
        {"POST", QStringLiteral("/KORVA/v2/packages/{id}/held/release"), Role::Operator,
         QStringLiteral("releaseHeldTerminals"),
         QStringLiteral("Release terminals held back at the retry limit"), release,
         OperationDoc::text(releaseDoc())},
    };
    return group;
}
