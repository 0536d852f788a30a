#include "api/v2/AuditRoutes.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>

#include "api/v2/JsonBody.h"
#include "api/v2/ListParams.h"
#include "api/v2/TimeRangeParams.h"
#include "db/Tab_AuditLog.h"
#include "files/CsvOpt.h"

namespace {
constexpr int kLongestExport = 100000;

QJsonObject describe(const struAuditEntry& entry) {
    return QJsonObject{
        {"id", entry.id},
        {"time", QDateTime::fromMSecsSinceEpoch(entry.at).toString(Qt::ISODateWithMs)},
        {"account", entry.account},
        {"address", entry.address},
        {"route", entry.route},
        {"action", entry.action},
        {"summary", entry.summary}};
}

// The filter of both the list and the export; false, with the reason, for a bad time range.
bool readFilter(const ApiRequest& request, Tab_AuditLog::Filter& filter, QString& error) {
    TimeRangeParams range;
    if (!range.read(request, error)) return false;
    filter.account = request.queryValue("account");
    filter.action = request.queryValue("action");
    filter.fromMs = range.from * 1000;
    filter.toMs = range.to * 1000;
    return true;
}

ApiReply list(const ApiRequest& request) {
    ListParams page;
    Tab_AuditLog::Filter filter;
    QString error;
    if (!page.read(request, error) || !readFilter(request, filter, error))
        return ApiReply::error(400, QStringLiteral("bad_request"), error);
    const int offset = page.offset;
    const int limit = page.limit;
    QList<struAuditEntry> entries;
    qint64 total = 0;
    if (!Tab_AuditLog().queryEntries(filter, offset, limit, entries, total))
        return ApiReply::error(500, QStringLiteral("internal"), QStringLiteral("无法读取审计记录"));
    QJsonArray items;
    for (const struAuditEntry& entry : entries) items.append(describe(entry));
    return ApiReply::json(
        200, compactJson(QJsonObject{
                 {"total", total}, {"offset", offset}, {"limit", limit}, {"entries", items}}));
}

ApiReply csv(const ApiRequest& request) {
    Tab_AuditLog::Filter filter;
    QString error;
    if (!readFilter(request, filter, error))
        return ApiReply::error(400, QStringLiteral("bad_request"), error);
    QList<struAuditEntry> entries;
    qint64 total = 0;
    if (!Tab_AuditLog().queryEntries(filter, 0, kLongestExport, entries, total))
        return ApiReply::error(500, QStringLiteral("internal"), QStringLiteral("无法读取审计记录"));
    // The byte order mark makes spreadsheet programs read the file as UTF-8.
    QByteArray text = CsvOpt::fileStart(CsvOpt::Charset::Utf8);
    text += QStringLiteral("时间,账户,来源地址,接口,操作,摘要\r\n").toUtf8();
    for (const struAuditEntry& entry : entries) {
        const QString time = QDateTime::fromMSecsSinceEpoch(entry.at).toString(
            QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        QStringList cells;
        for (const QString& value :
             {time, entry.account, entry.address, entry.route, entry.action, entry.summary})
            cells << CsvOpt::cell(value);
        text += cells.join(QLatin1Char(',')).toUtf8() + "\r\n";
    }
    ApiReply reply = ApiReply::json(200, text);
    reply.contentType = "text/csv; charset=utf-8";
    reply.headers.append(qMakePair(QByteArray("Content-Disposition"),
                                   QByteArray("attachment; filename=\"audit.csv\"")));
    return reply;
}

const char* const kFilters =
    R"J({"name":"account","in":"query","schema":{"type":"string","example":"admin"},
        "description":"only this account (token:<name> for a token)"},
       {"name":"action","in":"query","schema":{"type":"string","example":"login"}},
       {"name":"from","in":"query","schema":{"type":"integer","minimum":0},
        "description":"at or after, seconds since 1970"},
       {"name":"to","in":"query","schema":{"type":"integer","minimum":0},
        "description":"before, seconds since 1970"})J";
}  // namespace

ApiGroup auditRoutes() {
    ApiGroup group;
    group.tag = QStringLiteral("audit");
    group.schemas = R"J({"AuditEntry":{"type":"object",
        "required":["id","time","account","address","route","action","summary"],
        "properties":{"id":{"type":"integer"},"time":{"type":"string","description":"ISO 8601"},
            "account":{"type":"string"},"address":{"type":"string"},"route":{"type":"string"},
            "action":{"type":"string"},"summary":{"type":"string"}}}})J";
    const QByteArray filters(kFilters);
    const QByteArray error =
        R"J({"application/json":{"schema":{"$ref":"#/components/schemas/Error"}}})J";
    group.routes = {
        {"GET", QStringLiteral("/KORVA/v2/audit"), Role::Admin, QStringLiteral("listAuditEntries"),
         QStringLiteral("The audit trail, newest first"), list,
         R"J({"parameters":[)J" + filters +
             R"J(,{"name":"offset","in":"query","schema":{"type":"integer","minimum":0,"example":0}},
             {"name":"limit","in":"query","schema":{"type":"integer","minimum":1,"maximum":500,
              "example":20}}],
             "responses":{"200":{"description":"One page","content":{"application/json":{"schema":
                 {"type":"object","required":["total","offset","limit","entries"],
                  "properties":{"total":{"type":"integer"},"offset":{"type":"integer"},
                      "limit":{"type":"integer"},"entries":{"type":"array",
                      "items":{"$ref":"#/components/schemas/AuditEntry"}}}}}}},
                 "400":{"description":"Bad paging","content":)J" +
             error + "}}}"},
        {"GET", QStringLiteral("/KORVA/v2/audit.csv"), Role::Admin,
         QStringLiteral("exportAuditEntries"),
         QStringLiteral("The audit trail as CSV (UTF-8 with byte order mark)"), csv,
         R"J({"parameters":[)J" + filters + R"J(],
             "responses":{"200":{"description":"CSV file",
                 "content":{"text/csv":{"schema":{"type":"string"}}}}}})J"},
    };
    return group;
}
