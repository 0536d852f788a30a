#include "api/v2/ExchangeRoutes.h"
#include "api/auth/AuditLog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryFile>
#include <QUuid>

#include "api/auth/DeviceIdView.h"
#include "api/v2/DeviceFilterParams.h"
#include "api/v2/DeviceSortParams.h"
#include "api/v2/ListParams.h"
#include "api/v2/OperationDoc.h"
#include "api/v2/RouteReplies.h"
#include "db/DeviceEditor.h"
#include "db/DeviceListQuery.h"
#include "db/Tab_DeviceInfo.h"
#include "files/CsvOpt.h"
#include "files/DeviceExchangeFile.h"
#include "files/DeviceImportPlan.h"
#include "files/DeviceListTable.h"

namespace {
const QByteArray kCsvType = "text/csv; charset=GBK";
const QByteArray kUtf8CsvType = "text/csv; charset=utf-8";
const QByteArray kXlsxType = "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet";
// Serial numbers per lookup of the stored rows an import is compared with.
constexpr int kLookupBatch = 500;

// The one place this group's changes are recorded: the audit trail writes its row here.
void recordChange(const ApiRequest& request, const char* action, const QJsonObject& detail) {
    request.audit(QString::fromLatin1(action),
                  QString::fromUtf8(QJsonDocument(detail).toJson(QJsonDocument::Compact)));
}

QString exchangeDir(const ApiRequest& request) {
    const struLocalParam param = request.parameters();
    QDir().mkpath(param.ExcelDir);
    return param.ExcelDir;
}

ImportLimits importLimits(const ApiRequest& request) {
    return ImportLimits::of(request.parameters());
}

// A row of the file as the reader may see it.
QList<QVariant> fileRow(const DeviceListRow& row, Role reader) {
    struDeviceInfo device = row.device;
    DeviceIdView::apply(reader, device);
    return DeviceExchangeFile::row(device);
}

// Rows go to the file as they are read, so a large list never sits in memory twice.
bool writeCsv(const QString& path, const DeviceFilter& filter, const DeviceListQuery::Sort& sort,
              Role reader, CsvOpt::Charset charset) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    QList<QVariant> header;
    for (const QString& title : DeviceExchangeFile::titles()) header << title;
    bool written =
        file.write(CsvOpt::fileStart(charset) + CsvOpt::EncodeCsvLine(header, charset)) > 0;
    const bool read =
        written && DeviceListQuery::forEach(filter, sort, [&](const DeviceListRow& row) {
            written = file.write(CsvOpt::EncodeCsvLine(fileRow(row, reader), charset)) > 0;
            return written;
        });
    return read && written && file.flush();
}

bool writeWorkbook(const QString& path, const DeviceFilter& filter,
                   const DeviceListQuery::Sort& sort, Role reader) {
    QList<QList<QVariant>> table;
    QList<QVariant> header;
    for (const QString& title : DeviceExchangeFile::titles()) header << title;
    table << header;
    return DeviceListQuery::forEach(filter, sort,
                                    [&table, reader](const DeviceListRow& row) {
                                        table << fileRow(row, reader);
                                        return true;
                                    }) &&
           DeviceExchangeFile::writeWorkbook(path, table);
}

ApiReply exportDevices(const ApiRequest& request) {
    DeviceFilter filter;
    DeviceListQuery::Sort sort;
    QString error;
    if (!DeviceFilterParams::fromQuery(request, filter, error) ||
        !DeviceSortParams::read(request, sort, error))
        return RouteReplies::badRequest(error);
    const QString format = request.queryValue(QStringLiteral("format"));
    const bool xlsx = format == QLatin1String("xlsx");
    if (!xlsx && !format.isEmpty() && format != QLatin1String("csv"))
        return RouteReplies::badRequest(QStringLiteral("format 须为 csv 或 xlsx"));
    // GBK stays the default: the operators' spreadsheet hosts open it as it is.
    const QString charsetName = request.queryValue(QStringLiteral("charset")).toLower();
    const bool utf8 = charsetName == QLatin1String("utf-8");
    if (!utf8 && !charsetName.isEmpty() && charsetName != QLatin1String("gbk"))
        return RouteReplies::badRequest(QStringLiteral("charset 须为 gbk 或 utf-8"));
    const CsvOpt::Charset charset = utf8 ? CsvOpt::Charset::Utf8 : CsvOpt::Charset::Gbk;
    const QString suffix = xlsx ? QStringLiteral("xlsx") : QStringLiteral("csv");
    const QString path = exchangeDir(request) + QStringLiteral("/export-") +
                         QUuid::createUuid().toString(QUuid::Id128) + QLatin1Char('.') + suffix;
    if (!(xlsx ? writeWorkbook(path, filter, sort, request.role)
               : writeCsv(path, filter, sort, request.role, charset))) {
        QFile::remove(path);
        return ApiReply::error(500, QStringLiteral("internal"), QStringLiteral("导出失败"));
    }
    ApiReply reply = ApiReply::file(
        path,
        xlsx   ? kXlsxType
        : utf8 ? kUtf8CsvType
               : kCsvType,
        QStringLiteral("devices-%1.%2")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss")), suffix));
    reply.removeAfterSending = true;
    return reply;
}

// The body is the file: a workbook by its signature, CSV otherwise.
QString suffixOf(const QByteArray& body) {
    if (body.startsWith("PK\x03\x04")) return QStringLiteral("xlsx");
    if (body.startsWith("\xD0\xCF\x11\xE0")) return QStringLiteral("xls");
    return QStringLiteral("csv");
}

bool readPlan(const ApiRequest& request, DeviceImportPlan& plan, bool& versions,
              ApiReply& failure) {
    const QString flag = request.queryValue(QStringLiteral("versions"));
    if (!flag.isEmpty() && flag != QLatin1String("true") && flag != QLatin1String("false")) {
        failure = RouteReplies::badRequest(QStringLiteral("versions 须为 true 或 false"));
        return false;
    }
    versions = flag == QLatin1String("true");
    if (request.body.isEmpty()) {
        failure = RouteReplies::badRequest(QStringLiteral("请求体须为 CSV 或 xlsx 文件"));
        return false;
    }
    const ImportLimits limits = importLimits(request);
    if (request.body.size() > limits.csv.maxBytes) {
        failure = ApiReply::error(413, QStringLiteral("too_large"),
                                  QStringLiteral("文件超过 ImportMaxBytes"));
        return false;
    }
    QTemporaryFile file(exchangeDir(request) + QStringLiteral("/import-XXXXXX.") +
                        suffixOf(request.body));
    QString problem;
    // A workbook is inflated and parsed: other requests go on meanwhile.
    request.withoutLock([&] {
        QList<QList<QVariant>> table;
        if (!file.open() || file.write(request.body) != request.body.size() || !file.flush())
            problem = QStringLiteral("服务无法暂存上传的文件");
        else if (DeviceExchangeFile::readTable(file.fileName(), table, limits, problem))
            problem = table.isEmpty() ? QStringLiteral("文件是空的，没有标题行")
                                      : DeviceListTable::headerProblem(table.first());
        if (problem.isEmpty() && !plan.read(table)) problem = QStringLiteral("文件内容不符");
    });
    if (!problem.isEmpty()) {
        failure = RouteReplies::badRequest(problem);
        return false;
    }

    QHash<QString, struDeviceInfo> stored;
    for (int at = 0; at < plan.serials().size(); at += kLookupBatch) {
        DeviceFilter batch;
        batch.bySerials = true;
        batch.serials = plan.serials().mid(at, kLookupBatch);
        if (!DeviceListQuery::forEach(batch, DeviceListQuery::Sort(),
                                      [&stored](const DeviceListRow& row) {
                                          stored.insert(row.device.devSN, row.device);
                                          return true;
                                      })) {
            failure = RouteReplies::databaseFailed();
            return false;
        }
    }
    plan.plan(stored, versions);
    return true;
}

QJsonObject summaryJson(const DeviceImportPlan::Summary& s) {
    return {{"rows", s.rows},
            {"inserted", s.inserted},
            {"updated", s.updated},
            {"unchanged", s.unchanged},
            {"skipped", s.skipped},
            {"flagged", s.flagged},
            {"versionsKept", s.versionsKept}};
}

QJsonArray changesJson(const QList<DeviceImportPlan::Change>& changes) {
    QJsonArray out;
    for (const DeviceImportPlan::Change& change : changes)
        out.append(QJsonObject{{"column", Tab_DeviceInfo::columns().name(change.column)},
                               {"from", QJsonValue::fromVariant(change.from)},
                               {"to", QJsonValue::fromVariant(change.to)}});
    return out;
}

ApiReply preview(const ApiRequest& request) {
    DeviceImportPlan plan;
    bool versions = false;
    ApiReply failure;
    if (!readPlan(request, plan, versions, failure)) return failure;
    QJsonArray rows;
    for (const DeviceImportPlan::Row& row : plan.rows()) {
        if (row.action == DeviceImportPlan::Action::Unchanged && !row.flagged) continue;
        QJsonArray kept;
        for (const int column : row.textsKept) kept.append(Tab_DeviceInfo::columns().name(column));
        rows.append(QJsonObject{{"line", row.line},
                                {"devSN", row.devSN},
                                {"action", DeviceImportPlan::actionName(row.action)},
                                {"changes", changesJson(row.changes)},
                                {"versionChanges", changesJson(row.versionChanges)},
                                {"completionTimeKnown", row.completionTimeKnown},
                                {"completionTimeDiffers", row.completionTimeDiffers},
                                {"flagged", row.flagged},
                                {"textsKept", kept},
                                {"versionsWritten", row.versionsWritten}});
    }
    return RouteReplies::ok({{"summary", summaryJson(plan.summary())}, {"rows", rows}});
}

ApiReply apply(const ApiRequest& request) {
    DeviceImportPlan plan;
    bool versions = false;
    ApiReply failure;
    if (!readPlan(request, plan, versions, failure)) return failure;
    QList<DeviceEditor::RowWrite> writes;
    for (const DeviceImportPlan::Row& row : plan.rows()) {
        if (row.action == DeviceImportPlan::Action::Unchanged) continue;
        DeviceEditor::RowWrite write;
        write.devSN = row.devSN;
        write.insert = row.action == DeviceImportPlan::Action::Insert;
        for (const DeviceImportPlan::Change& change : row.changes)
            write.changes << qMakePair(change.column, change.to);
        writes << write;
    }
    if (!DeviceEditor::applyRows(writes)) return RouteReplies::databaseFailed();
    const QJsonObject summary = summaryJson(plan.summary());
    recordChange(request, "device_import", {{"versions", versions}, {"summary", summary}});
    return RouteReplies::ok({{"summary", summary}});
}

QJsonObject exportDoc() {
    QJsonArray parameters{
        OperationDoc::queryParam("format", QJsonObject{{"type", "string"},
                                                       {"enum", QJsonArray{"csv", "xlsx"}},
                                                       {"example", "csv"}}),
        OperationDoc::queryParam("charset", QJsonObject{{"type", "string"},
                                                        {"enum", QJsonArray{"gbk", "utf-8"}},
                                                        {"default", "gbk"},
                                                        {"description",
                                                         "CSV only: utf-8 is written with a "
                                                         "byte-order mark"}})};
    for (const QJsonValue& p : DeviceFilterParams::queryParameters()) parameters.append(p);
    for (const QJsonValue& p : DeviceSortParams::parameters())
        if (p.toObject().value("name") != "cursor") parameters.append(p);
    QJsonObject body = OperationDoc::file("The list, sixteen columns and the completion time",
                                          QString::fromLatin1(kCsvType));
    QJsonObject content = body.value("content").toObject();
    for (const QByteArray& type : {kUtf8CsvType, kXlsxType})
        content.insert(QString::fromLatin1(type), content.value(QString::fromLatin1(kCsvType)));
    body.insert("content", content);
    return {{"description",
             "Every terminal the filter takes, written to a temporary file that is removed once "
             "sent; byte ranges honoured."},
            {"parameters", parameters},
            {"responses",
             QJsonObject{{"200", body},
                         {"206", QJsonObject{{"description", "The range asked for"}}},
                         {"400", OperationDoc::error("A parameter is invalid")},
                         {"416", QJsonObject{{"description", "The range starts past the end"}}},
                         {"500", OperationDoc::error("The file could not be written")}}}};
}

QJsonObject importDoc(bool apply) {
    const QJsonObject change = OperationDoc::object({{"column", QJsonObject{{"type", "string"}}},
                                                     {"from", QJsonObject()},
                                                     {"to", QJsonObject()}});
    QJsonObject summaryProperties;
    for (const char* name :
         {"rows", "inserted", "updated", "unchanged", "skipped", "flagged", "versionsKept"})
        summaryProperties.insert(name, QJsonObject{{"type", "integer"}});
    const QJsonObject summary = OperationDoc::object(summaryProperties);
    const QJsonObject row = OperationDoc::object(
        {{"line", QJsonObject{{"type", "integer"}}},
         {"devSN", QJsonObject{{"type", "string"}}},
         {"action",
          QJsonObject{{"type", "string"}, {"enum", QJsonArray{"insert", "update", "unchanged"}}}},
         {"changes", OperationDoc::arrayOf(change)},
         {"versionChanges", OperationDoc::arrayOf(change)},
         {"completionTimeKnown", QJsonObject{{"type", "boolean"}}},
         {"completionTimeDiffers", QJsonObject{{"type", "boolean"}}},
         {"flagged", QJsonObject{{"type", "boolean"}}},
         {"textsKept", QJsonObject{{"type", "array"},
                                   {"items", QJsonObject{{"type", "string"}}},
                                   {"description",
                                    "Columns kept as stored: the file (GBK) could not carry "
                                    "their characters and shows '?' instead"}}},
         {"versionsWritten", QJsonObject{{"type", "boolean"}}}});
    const QJsonObject body =
        apply ? OperationDoc::object({{"summary", summary}})
              : OperationDoc::object({{"summary", summary}, {"rows", OperationDoc::arrayOf(row)}});
    const QJsonObject file{{"type", "string"}, {"format", "binary"}};
    return {
        {"description",
         "The body is the file (CSV as exported, or an .xlsx workbook). Identity and request "
         "columns are written; version columns only with versions=true, and not for rows "
         "whose completion time differs from the table's (compared to the minute) or is "
         "missing: the terminal was upgraded after the export. A text a GBK file shows with "
         "'?' for characters outside GBK stays as stored (textsKept). Rows that neither change "
         "nor are flagged are only counted."},
        {"parameters",
         QJsonArray{OperationDoc::queryParam(
             "versions", QJsonObject{{"type", "string"}, {"enum", QJsonArray{"true", "false"}}})}},
        {"requestBody",
         QJsonObject{{"required", true},
                     {"content", QJsonObject{{"text/csv", QJsonObject{{"schema", file}}},
                                             {QString::fromLatin1(kXlsxType),
                                              QJsonObject{{"schema", file}}}}}}},
        {"responses",
         QJsonObject{
             {"200", OperationDoc::json(
                         apply ? "Written, in one transaction" : "What the import would do", body)},
             {"400", OperationDoc::error("No file, an unreadable one, a wrong header, or more "
                                         "rows or cells than ImportMaxRows and ImportMaxCells "
                                         "allow (a workbook is refused as soon as it passes "
                                         "them)")},
             {"413", OperationDoc::error("The file is larger than ImportMaxBytes")},
             {"500", OperationDoc::error("The database failed")}}}};
}
}  // namespace

ApiGroup exchangeRoutes() {
    ApiGroup group;
    group.tag = QStringLiteral("device list files");
    group.schemas = QJsonDocument(DeviceFilterParams::schemas()).toJson(QJsonDocument::Compact);
    group.routes = {
        {"GET", QStringLiteral("/KORVA/v2/devices/export"), Role::Viewer,
         QStringLiteral("exportDevices"), QStringLiteral("The device list as CSV or xlsx"),
         exportDevices, OperationDoc::text(exportDoc())},
        {"POST", QStringLiteral("/KORVA/v2/devices/import/preview"), Role::Operator,
         QStringLiteral("previewDeviceImport"),
         QStringLiteral("What importing an edited list would change"), preview,
         OperationDoc::text(importDoc(false))},
        {"POST", QStringLiteral("/KORVA/v2/devices/import"), Role::Operator,
         QStringLiteral("importDevices"), QStringLiteral("Import an edited list"), apply,
         OperationDoc::text(importDoc(true))},
    };
    return group;
}
