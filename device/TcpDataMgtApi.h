#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include "SocketPacketHandler.h"
#include "struLocalParam.h"

// The service's side of the device conversation, living in the main thread. For now it only
// checks each packet; the conversation itself is filled in on top of this interface.
class TcpDataMgtApi : public QObject {
    Q_OBJECT
  public:
    static TcpDataMgtApi* instance();

    int CompareVersion(const QString& packageVersion, const QString& deviceVersion) const;
    QString GetPackageUrl(const QString& packagePath) const;

  signals:
    // One whole packet for the connection with that socket ID.
    void sendSocketData(QByteArray data, qintptr socketId);

  public slots:
    void readDataSlot(qintptr socketId, QByteArray data);
    void sockDisConnect(qintptr socketId, QString ip, quint16 port);

  private:
    explicit TcpDataMgtApi(QObject* parent = nullptr);

    SocketPacketHandler m_packetHandler;
    struLocalParam m_param;  // read once at construction
};
