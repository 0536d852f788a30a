#include "api/v2/DeviceSortParams.h"

#include <QJsonDocument>
#include <QJsonObject>

#include "api/auth/DeviceIdView.h"
#include "api/v2/ListParams.h"
#include "db/Tab_DeviceInfo.h"

namespace {
const QString kOnline = QStringLiteral("online");

QString sortName(const DeviceListQuery::Sort& sort) {
    return sort.column == DeviceListQuery::kOnline
               ? kOnline
               : QLatin1String(Tab_DeviceInfo::columns().name(sort.column));
}

QStringList sortNames() {
    QStringList names;
    for (int i = 0; i < Tab_DeviceInfo::columns().count(); ++i)
        names << Tab_DeviceInfo::columns().name(i);
    return names << kOnline;
}
}  // namespace

bool DeviceSortParams::read(const ApiRequest& request, DeviceListQuery::Sort& sort,
                            QString& error) {
    sort = DeviceListQuery::Sort();
    sort.column = Tab_DeviceInfo::columns().indexOf(QStringLiteral("id"));
    const QString name = request.queryValue(QStringLiteral("sort"));
    if (name == kOnline) {
        sort.column = DeviceListQuery::kOnline;
    } else if (!name.isEmpty()) {
        sort.column = Tab_DeviceInfo::columns().indexOf(name);
        if (sort.column < 0) {
            error = QStringLiteral("sort 须为设备表的列名或 online");
            return false;
        }
        // The order, and a cursor's sort value, would tell a device ID bit by bit.
        if (sort.column == Tab_DeviceInfo::columns().indexOf(QStringLiteral("devId")) &&
            !DeviceIdView::seesWhole(request.role)) {
            error = QStringLiteral("按 devId 排序须为操作员或管理员");
            return false;
        }
    }
    const QString order = request.queryValue(QStringLiteral("order"));
    if (!order.isEmpty() && order != QLatin1String("asc") && order != QLatin1String("desc")) {
        error = QStringLiteral("order 须为 asc 或 desc");
        return false;
    }
    sort.descending = order == QLatin1String("desc");
    return true;
}

QJsonArray DeviceSortParams::parameters() {
    return QJsonArray{
        QJsonObject{{"name", "sort"},
                    {"in", "query"},
                    {"description",
                     "column to sort by, then the table key; id when absent; devId for operators "
                     "and above"},
                    {"schema", QJsonObject{{"type", "string"},
                                           {"enum", QJsonArray::fromStringList(sortNames())},
                                           {"example", "LicensePlateNumber"}}}},
        QJsonObject{{"name", "order"},
                    {"in", "query"},
                    {"schema", QJsonObject{{"type", "string"},
                                           {"enum", QJsonArray{"asc", "desc"}},
                                           {"example", "desc"}}}},
        QJsonObject{{"name", "cursor"},
                    {"in", "query"},
                    {"description",
                     "nextCursor of the previous page: continues after its last row, offset "
                     "ignored; cheaper than a deep offset"},
                    {"schema", QJsonObject{{"type", "string"}}}},
    };
}

QString DeviceSortParams::cursorAfter(const DeviceListQuery::Sort& sort,
                                      const DeviceListRow& last) {
    const QJsonArray state{sortName(sort), sort.descending, QJsonValue::fromVariant(last.sortValue),
                           last.device.id};
    return QString::fromLatin1(
        QJsonDocument(state)
            .toJson(QJsonDocument::Compact)
            .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

bool DeviceSortParams::readCursor(const QString& text, const DeviceListQuery::Sort& sort,
                                  DeviceListQuery::Page& page, QString& error) {
    const QJsonArray state =
        QJsonDocument::fromJson(
            QByteArray::fromBase64(text.toLatin1(), QByteArray::Base64UrlEncoding))
            .array();
    if (state.size() != 4 || state.at(0).toString() != sortName(sort) ||
        state.at(1).toBool() != sort.descending || !state.at(3).isDouble()) {
        error = QStringLiteral("cursor 无效或与当前排序不符");
        return false;
    }
    page.afterCursor = true;
    page.cursorValue = state.at(2).toVariant();
    page.cursorId = state.at(3).toInt();
    return true;
}
