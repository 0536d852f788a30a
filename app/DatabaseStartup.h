#pragma once

#include <functional>

#include <QObject>
#include <QTimer>

// The start-up steps that need the database: the schema first, then the caller's (clearing
// this instance's stale presence rows, the first account). With a PostgreSQL server that cannot
// be reached they wait for it, tried again every second from the event loop, while the
// listeners start and terminals are answered from what the service holds.
class DatabaseStartup : public QObject {
    Q_OBJECT
  public:
    enum class Result { Done, Deferred, Failed };

    // steps returns false when they failed and are to be tried again.
    explicit DatabaseStartup(std::function<bool()> steps, QObject* parent = nullptr);

    // The first attempt, before the listeners start. Failed: the database is unusable (or
    // newer than this program) and start-up ends, as with SQLite.
    Result run();

  private:
    void retry();

    std::function<bool()> m_steps;
    bool m_schemaReady = false;
    QTimer m_timer;
};
