#pragma once

#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>

class HttpServer;

// Process-wide registry of the running HTTP servers (not owned); keeps a second server off an
// address that one already serves, and stops whatever still runs at process exit.
class HttpServerHelper : public QObject {
    Q_OBJECT
  public:
    static HttpServerHelper* instance();
    ~HttpServerHelper() override;

    void addServer(HttpServer* server);
    void removeServer(HttpServer* server);
    bool hasServer(const QString& ip, quint16 port) const;

  private:
    HttpServerHelper() = default;

    mutable QMutex m_mutex;  // guards m_servers
    QList<HttpServer*> m_servers;
};
