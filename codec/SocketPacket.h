#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// One framed device message in memory; the wire form is big-endian, see SocketPacketHandler.
struct SocketPacket {
    quint8 head0 = 0;
    quint8 head1 = 0;
    quint16 cmd = 0;
    char devId[32] = {};  // raw bytes; answers echo them unchanged
    quint16 serialNo = 0;
    quint16 dataLen = 0;
    QByteArray data;
    quint16 checkCode = 0;
};

// Body of a command result (Command::Command from the terminal).
struct CmdResultData {
    quint32 resultCode = 0;  // 0 = success
    QString text;
};

// Body of one device-file chunk (Command::File from the terminal).
struct DeviceFileData {
    quint32 type = 0;  // 1 log, 2 index, 3 print, 4 run information
    QString fileName;
    // The type is complete with the chunk where counter1 == counter2 and counter3 == counter4.
    quint32 counter1 = 0;
    quint32 counter2 = 0;
    quint32 counter3 = 0;
    quint32 counter4 = 0;
    QByteArray data;
};

// Body of the upgrade answer (Command::UpgradeAnswer).
struct UpgradeFlagData {
    quint32 flag = 0;  // 1 = upgrade
    QString url;       // empty when there is no upgrade
};
