#pragma once

#include <QString>

// The local parameters in force; every user reads its own copy through LocalParaMgt.
struct struLocalParam {
    QString ExcelDir;
    QString PackageDir;
    QString DevLogDir;
    QString DevIndexDir;
    QString PrintDir;
    QString RunInfoDir;
    qint32 TcpPort = 0;
    qint32 HttpPort = 0;
    qint32 HttpPort2 = 0;
    QString ListenIP;
    qint32 MaxConnCount = 0;
    QString NetIP;
    quint32 HttpRecvTimeOut = 0;
    quint32 HttpSendTimeOut = 0;
    quint32 ManualMode = 0;
    // An upgrade without progress for this long counts as stalled; read, never written back.
    double UpgradeStallMinutes = 30;
};
