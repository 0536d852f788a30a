#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <mutex>

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

    // Guards m_servers: servers start and stop on any thread, and the registry is asked from
    // any thread whether an address is served.
    mutable std::mutex m_mutex;
    QList<HttpServer*> m_servers;
};
