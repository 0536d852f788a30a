#include "files/DeviceListTable.h"

#include <QDebug>

#include "files/CellReference.h"
#include "files/CsvOpt.h"

namespace DeviceListTable {

namespace {

QString flagText(bool flag) {
    return flag ? QStringLiteral("1") : QStringLiteral("0");
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

bool headerMatches(int cellCount, const CellText& cell) {
    if (cellCount < kColumnCount) {
        qDebug("Excel header count error");
        return false;
    }
    for (int column = 0; column < kColumnCount; ++column) {
        if (cell(column) != titles().at(column)) {
            qDebug("Excel header name error");
            return false;
        }
    }
    return true;
}

bool deviceFromRow(int cellCount, const CellText& cell, bool requireRowLength, struDeviceInfo& d) {
    if (requireRowLength && cellCount < kColumnCount) return false;
    auto text = [&](int column) { return column < cellCount ? cell(column) : QString(); };
    // Anything but exactly "1" ("true", "是", " 1") clears a request, so a stray edit never
    // starts an upgrade.
    auto flag = [&](int column) { return text(column) == QLatin1String("1"); };
    d = struDeviceInfo();
    d.devId = text(0);
    d.devSN = text(1);
    d.devType = text(2);
    d.LicensePlateNumber = text(3);
    d.PhoneNumber = text(4);
    d.AppVersion = text(5);
    d.McuVersion = text(6);
    d.FourGVersion = text(7);
    d.GnssVersion = text(8);
    d.SmartModule = text(9);
    d.isAutoUpdate = flag(10);
    d.ConfigCmd = text(11);
    d.GetLogFile = flag(12);
    d.GetIndexFile = flag(13);
    d.GetPrintFile = flag(14);
    d.GetRunInfoFile = flag(15);
    return !d.devSN.isEmpty();
}

bool checkHeader(const QList<QVariant>& header) {
    return headerProblem(header).isEmpty();
}

QString headerProblem(const QList<QVariant>& header) {
    if (header.size() < kColumnCount)
        return QStringLiteral("标题行只有 %1 列，需要 %2 列").arg(header.size()).arg(kColumnCount);
    for (int column = 0; column < kColumnCount; ++column) {
        if (header.at(column).toString() != titles().at(column))
            return QStringLiteral("第 %1 列（%2 列）标题应为“%3”，文件中为“%4”")
                .arg(column + 1)
                .arg(CellReference::columnLetters(column + 1), titles().at(column),
                     header.at(column).toString());
    }
    return QString();
}

struDeviceInfo deviceFromRow(const QList<QVariant>& row) {
    struDeviceInfo d;
    deviceFromRow(
        row.size(), [&](int column) { return row.at(column).toString(); }, false, d);
    return d;
}

bool fromTable(const QList<QList<QVariant>>& table, QList<struDeviceInfo>& out,
               bool requireRowLength) {
    if (table.isEmpty()) return false;
    const QList<QVariant>& header = table.first();
    if (!headerMatches(header.size(), [&](int column) { return header.at(column).toString(); }))
        return false;
    out.clear();
    for (int r = 1; r < table.size(); ++r) {
        const QList<QVariant>& row = table.at(r);
        struDeviceInfo d;
        if (deviceFromRow(
                row.size(), [&](int column) { return row.at(column).toString(); }, requireRowLength,
                d))
            out << d;
    }
    return true;
}

int keepTextsLostInGbk(const struDeviceInfo& stored, struDeviceInfo& read) {
    int kept = 0;
    for (QString struDeviceInfo::*text :
         {&struDeviceInfo::devId, &struDeviceInfo::devType, &struDeviceInfo::LicensePlateNumber,
          &struDeviceInfo::PhoneNumber, &struDeviceInfo::AppVersion, &struDeviceInfo::McuVersion,
          &struDeviceInfo::FourGVersion, &struDeviceInfo::GnssVersion, &struDeviceInfo::SmartModule,
          &struDeviceInfo::ConfigCmd}) {
        if (!CsvOpt::lostInGbk(stored.*text, read.*text)) continue;
        read.*text = stored.*text;
        ++kept;
    }
    return kept;
}

}  // namespace DeviceListTable
