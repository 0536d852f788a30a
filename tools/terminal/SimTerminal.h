#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <QTimer>

#include "codec/PacketFramer.h"
#include "codec/SocketPacket.h"
#include "codec/TerminalPackets.h"

class HttpDownload;

// What one simulated terminal is and does.
struct TerminalScript {
    QString host = QStringLiteral("127.0.0.1");
    quint16 port = 0;
    DeviceReport identity;
    QByteArray devId;       // empty: the serial number
    bool extended = false;  // the extended report, Command::ReportEx
    enum class Expect { Any, Upgrade, None } expect = Expect::Any;
    QList<quint32> progressSteps{25, 50, 75, 100};
    qint64 breakAt = 0;            // break the download after this many bytes and resume
    bool download = true;          // false: report progress without downloading
    int loopProgressMs = 0;        // keep reporting the first step for this long before going on
    quint32 cmdResult = 0;         // result code answered to a command
    QMap<quint32, QString> files;  // local file sent for each requested type
    int reports = 1;               // reports to send, each after the previous exchange ended
    int timeoutMs = 10000;         // longest wait for any expected packet
    int settleMs = 300;            // quiet time after a file transfer that ends the exchange
    int holdMs = 0;                // stay connected this long after the script
    int startDelayMs = 0;          // wait this long between connecting and the first report
    // A lost connection or a broken download: connect again (through a balancer, perhaps to
    // another instance) and start over, this many times at most.
    int reconnects = 0;
    int reconnectDelayMs = 500;
};

// One terminal: connects, reports, and answers the service like a terminal would, printing
// one line per step. Any protocol fault ends it with failure.
class SimTerminal : public QObject {
    Q_OBJECT
  public:
    SimTerminal(const TerminalScript& script, QObject* parent = nullptr);

    void start();
    bool ok() const { return m_ok; }
    // Milliseconds from each report to the first packet answering it.
    const QList<double>& latencies() const { return m_latencies; }

  signals:
    void line(QString text);
    void finished(bool ok);

  private:
    enum class State { Connecting, Reported, Upgrading, Files, Settling, Done };

    void sendReport();
    void send(Command cmd, const QByteArray& body);
    void onReadyRead();
    void handle(const SocketPacket& packet);
    void onUpgradeAnswer(const SocketPacket& packet);
    void onPoll();
    void onCommand(const SocketPacket& packet);
    void onFileRequest(const SocketPacket& packet);
    void sendNextProgress();
    void exchangeEnded();
    void fault(const QString& why);
    // The connection (or the download) is gone: start over while reconnects are left.
    void lost(const QString& why);
    void finish();
    void say(const QString& text);
    void armTimeout();

    TerminalScript m_script;
    QString m_name;
    QTcpSocket m_socket;
    PacketFramer m_framer;
    QTimer m_timeout;
    QTimer m_settle;
    State m_state = State::Connecting;
    quint16 m_serial = 0;
    int m_reportsSent = 0;
    bool m_answerPending = false;  // the report's first answer has not come yet
    QElapsedTimer m_reportClock;
    QElapsedTimer m_connectClock;
    QList<double> m_latencies;
    HttpDownload* m_download = nullptr;
    bool m_downloadDone = false;
    bool m_pollPending = false;
    int m_nextStep = 0;
    QElapsedTimer m_loopClock;
    bool m_ok = true;
    bool m_finished = false;
    int m_reconnectsLeft = 0;
};
