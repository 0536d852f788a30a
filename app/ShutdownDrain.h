#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>

class OrbTcpServer;

// SIGTERM with a drain time: the terminal port stops taking connections and the open ones are
// closed a few at a time over the first half of that time, longest silent first, so that they
// reconnect through the balancer to the other instances without arriving there all at once;
// downloads in progress finish meanwhile. Once neither is left, or the time is up, the process
// ends as SIGTERM ends it.
class ShutdownDrain : public QObject {
  public:
    // Both outlive it; openDownloads counts the download port's connections.
    ShutdownDrain(OrbTcpServer& terminals, std::function<int()> openDownloads, double seconds);
    ~ShutdownDrain() override;

    // Takes SIGTERM over; false (SIGTERM ends the process at once) without a pipe.
    bool arm();

  private:
    void begin();
    void step();
    [[noreturn]] void finish(const char* why);

    OrbTcpServer& m_terminals;
    const std::function<int()> m_openDownloads;
    const qint64 m_drainMs;
    int m_pipe[2] = {-1, -1};
    int m_atStart = 0;  // terminal connections when the drain began
    QElapsedTimer m_since;
    QTimer m_steps;
};
