#include "TcpDataMgtApi.h"

#include <QDebug>
#include <QThread>

#include "DataLog.h"
#include "DeviceMetaTypes.h"
#include "LocalParaMgt.h"
#include "UpgradeRules.h"

TcpDataMgtApi* TcpDataMgtApi::instance() {
    // Created on the main thread by the device server's constructor, before any connection.
    static TcpDataMgtApi* self = new TcpDataMgtApi;
    return self;
}

TcpDataMgtApi::TcpDataMgtApi(QObject* parent) : QObject(parent) {
    registerDeviceLinkMetaTypes();
    LocalParaMgt::instance()->readLocalParam(m_param);
}

int TcpDataMgtApi::CompareVersion(const QString& packageVersion,
                                  const QString& deviceVersion) const {
    return ::CompareVersion(packageVersion, deviceVersion);
}

QString TcpDataMgtApi::GetPackageUrl(const QString& packagePath) const {
    return ::GetPackageUrl(packagePath, m_param.PackageDir, m_param.NetIP, m_param.HttpPort2);
}

void TcpDataMgtApi::readDataSlot(qintptr socketId, QByteArray data) {
    Q_UNUSED(socketId);
    SocketPacket packet;
    if (m_packetHandler.DataParse(data, packet) != 0) {
        writeDataLog(QStringLiteral("TcpDataMgtApi::readDataSlot DataParse Failed"), data);
        return;
    }
}

void TcpDataMgtApi::sockDisConnect(qintptr socketId, QString ip, quint16 port) {
    Q_UNUSED(socketId);
    Q_UNUSED(ip);
    Q_UNUSED(port);
    qDebug() << "TcpDataMgtApi::sockDisConnect thread is:" << QThread::currentThreadId();
}
