#include "files/DeviceListTable.h"

#include <QDebug>

namespace DeviceListTable {

namespace {

QString flagText(bool flag) {
    return flag ? QStringLiteral("1") : QStringLiteral("0");
}

QString cellText(const QList<QVariant>& row, int column) {
    return column < row.size() ? row.at(column).toString() : QString();
}

// Anything but exactly "1" ("true", "是", " 1") clears a request, so a stray edit never starts
// an upgrade.
bool cellFlag(const QList<QVariant>& row, int column) {
    return cellText(row, column) == QLatin1String("1");
}

}  // namespace

const QStringList& titles() {
    static const QStringList list{
        QStringLiteral("设备ID"),       QStringLiteral("设备序列号"),
        QStringLiteral("设备型号"),     QStringLiteral("车牌号"),
        QStringLiteral("手机号"),       QStringLiteral("APP版本"),
        QStringLiteral("MCU版本"),      QStringLiteral("4G模块版本"),
        QStringLiteral("GNSS版本"),     QStringLiteral("智能模块版本"),
        QStringLiteral("是否自动升级"), QStringLiteral("配置指令"),
        QStringLiteral("上传日志"),     QStringLiteral("上传录像索引"),
        QStringLiteral("上传打印文件"), QStringLiteral("上传行车信息文件")};
    return list;
}

QList<QList<QVariant>> toTable(const QList<struDeviceInfo>& devices) {
    QList<QList<QVariant>> table;
    table.reserve(devices.size() + 1);
    QList<QVariant> header;
    for (const QString& title : titles()) header << title;
    table << header;
    for (const struDeviceInfo& d : devices) {
        table << QList<QVariant>{d.devId,
                                 d.devSN,
                                 d.devType,
                                 d.LicensePlateNumber,
                                 d.PhoneNumber,
                                 d.AppVersion,
                                 d.McuVersion,
                                 d.FourGVersion,
                                 d.GnssVersion,
                                 d.SmartModule,
                                 flagText(d.isAutoUpdate),
                                 d.ConfigCmd,
                                 flagText(d.GetLogFile),
                                 flagText(d.GetIndexFile),
                                 flagText(d.GetPrintFile),
                                 flagText(d.GetRunInfoFile)};
    }
    return table;
}

bool checkHeader(const QList<QVariant>& header) {
    if (header.size() < kColumnCount) {
        qDebug("Excel header count error");
        return false;
    }
    for (int column = 0; column < kColumnCount; ++column) {
        if (header.at(column).toString() != titles().at(column)) {
            qDebug("Excel header name error");
            return false;
        }
    }
    return true;
}

struDeviceInfo deviceFromRow(const QList<QVariant>& row) {
    struDeviceInfo d;
    d.devId = cellText(row, 0);
    d.devSN = cellText(row, 1);
    d.devType = cellText(row, 2);
    d.LicensePlateNumber = cellText(row, 3);
    d.PhoneNumber = cellText(row, 4);
    d.AppVersion = cellText(row, 5);
    d.McuVersion = cellText(row, 6);
    d.FourGVersion = cellText(row, 7);
    d.GnssVersion = cellText(row, 8);
    d.SmartModule = cellText(row, 9);
    d.isAutoUpdate = cellFlag(row, 10);
    d.ConfigCmd = cellText(row, 11);
    d.GetLogFile = cellFlag(row, 12);
    d.GetIndexFile = cellFlag(row, 13);
    d.GetPrintFile = cellFlag(row, 14);
    d.GetRunInfoFile = cellFlag(row, 15);
    return d;
}

bool fromTable(const QList<QList<QVariant>>& table, QList<struDeviceInfo>& out,
               bool requireRowLength) {
    if (table.isEmpty() || !checkHeader(table.first())) return false;
    out.clear();
    for (int r = 1; r < table.size(); ++r) {
        const QList<QVariant>& row = table.at(r);
        if (requireRowLength && row.size() < kColumnCount) continue;
        const struDeviceInfo d = deviceFromRow(row);
        if (!d.devSN.isEmpty()) out << d;
    }
    return true;
}

}  // namespace DeviceListTable
