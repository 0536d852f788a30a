#include "tools/terminal/SimTerminal.h"

#include <QFile>
#include <QFileInfo>

#include "codec/SocketPacketHandler.h"
#include "tools/terminal/HttpDownload.h"

SimTerminal::SimTerminal(const TerminalScript& script, QObject* parent)
    : QObject(parent),
      m_script(script),
      m_name(script.identity.devSN),
      m_reconnectsLeft(script.reconnects) {
    if (m_script.devId.isEmpty()) m_script.devId = m_script.identity.devSN.toUtf8();
    m_timeout.setSingleShot(true);
    m_settle.setSingleShot(true);
    connect(&m_timeout, &QTimer::timeout, this, [this] {
        fault(QStringLiteral("time-out: nothing for %1 ms").arg(m_script.timeoutMs));
    });
    connect(&m_settle, &QTimer::timeout, this, [this] {
        say(QStringLiteral("file exchange ended"));
        exchangeEnded();
    });
    connect(&m_socket, &QTcpSocket::connected, this, [this] {
        say(QStringLiteral("connected to %1:%2 in %3 ms")
                .arg(m_script.host)
                .arg(m_script.port)
                .arg(m_connectClock.elapsed()));
        if (m_script.startDelayMs > 0) {
            m_timeout.stop();
            QTimer::singleShot(m_script.startDelayMs, this, [this] {
                if (!m_finished) sendReport();
            });
        } else {
            sendReport();
        }
    });
    connect(&m_socket, &QTcpSocket::readyRead, this, &SimTerminal::onReadyRead);
    connect(&m_socket, &QTcpSocket::disconnected, this,
            [this] { lost(QStringLiteral("connection closed by the service")); });
    connect(&m_socket, &QAbstractSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        if (m_socket.state() != QAbstractSocket::ConnectedState)
            lost(QStringLiteral("connection failed: ") + m_socket.errorString());
    });
}

void SimTerminal::say(const QString& text) {
    emit line(m_name + QStringLiteral(": ") + text);
}

void SimTerminal::armTimeout() {
    if (m_script.timeoutMs > 0) m_timeout.start(m_script.timeoutMs);
}

void SimTerminal::start() {
    armTimeout();
    m_connectClock.start();
    m_socket.connectToHost(m_script.host, m_script.port);
}

void SimTerminal::send(Command cmd, const QByteArray& body) {
    m_serial = m_serial == 0xFFFF ? 1 : static_cast<quint16>(m_serial + 1);
    m_socket.write(TerminalPackets::frame(code(cmd), m_script.devId, m_serial, body));
}

void SimTerminal::sendReport() {
    ++m_reportsSent;
    m_state = State::Reported;
    m_answerPending = true;
    m_reportClock.start();
    const Command report = m_script.extended ? Command::ReportEx : Command::Report;
    send(report, TerminalPackets::reportBody(m_script.identity, m_script.extended));
    say(QStringLiteral("report %1 sent (0x%2)")
            .arg(m_reportsSent)
            .arg(code(report), 4, 16, QLatin1Char('0')));
    armTimeout();
}

void SimTerminal::onReadyRead() {
    m_framer.append(m_socket.readAll());
    SocketPacketHandler codec;
    while (!m_finished) {
        const int length = m_framer.pendingPacketLength();
        if (length == 0) return;
        if (length < 0) {
            fault(QStringLiteral("answer with a bad header"));
            return;
        }
        SocketPacket packet;
        if (codec.DataParse(m_framer.take(length), packet) != 0) {
            fault(QStringLiteral("answer with a bad check code"));
            return;
        }
        handle(packet);
    }
}

void SimTerminal::handle(const SocketPacket& packet) {
    if (m_finished || m_state == State::Done) {
        if (!m_finished)
            fault(QStringLiteral("unexpected command 0x%1 after the script")
                      .arg(packet.cmd, 4, 16, QLatin1Char('0')));
        return;
    }
    if (SocketPacketHandler::FieldBytes(packet.devId, 32) != m_script.devId.left(32)) {
        fault(QStringLiteral("answer carries another device ID"));
        return;
    }
    armTimeout();
    if (m_answerPending && packet.cmd != code(Command::ProgressPoll)) {
        m_answerPending = false;
        m_latencies.append(m_reportClock.nsecsElapsed() / 1e6);
    }
    switch (static_cast<Command>(packet.cmd)) {
        case Command::UpgradeAnswer:
            onUpgradeAnswer(packet);
            break;
        case Command::ProgressPoll:
            onPoll();
            break;
        case Command::Command:
            onCommand(packet);
            break;
        case Command::FileRequest:
            onFileRequest(packet);
            break;
        default:
            fault(
                QStringLiteral("unexpected command 0x%1").arg(packet.cmd, 4, 16, QLatin1Char('0')));
    }
}

void SimTerminal::onUpgradeAnswer(const SocketPacket& packet) {
    if (m_state != State::Reported) {
        fault(QStringLiteral("upgrade answer outside a report exchange"));
        return;
    }
    quint32 flag = 0;
    QString url;
    if (!TerminalPackets::parseUpgradeAnswer(packet.data, flag, url)) {
        fault(QStringLiteral("short upgrade answer"));
        return;
    }
    if (flag == 1) {
        say(QStringLiteral("upgrade answer: flag 1, url %1").arg(url));
        if (m_script.expect == TerminalScript::Expect::None) {
            fault(QStringLiteral("upgrade answered where none was expected"));
            return;
        }
        m_state = State::Upgrading;
        m_nextStep = 0;
        m_pollPending = false;
        m_downloadDone = !m_script.download;
        m_loopClock.start();
        if (m_script.download) {
            m_download = new HttpDownload(QUrl(url), m_script.breakAt, this);
            connect(m_download, &HttpDownload::step, this, [this](const QString& text) {
                say(text);
                armTimeout();
            });
            connect(m_download, &HttpDownload::finished, this,
                    [this](bool ok, const QString& error) {
                        if (!ok) {
                            lost(QStringLiteral("download: ") + error);
                            return;
                        }
                        m_downloadDone = true;
                        sendNextProgress();
                    });
            m_download->start();
        }
        return;
    }
    say(QStringLiteral("upgrade answer: flag %1, no upgrade").arg(flag));
    if (m_script.expect == TerminalScript::Expect::Upgrade) {
        fault(QStringLiteral("no upgrade answered where one was expected"));
        return;
    }
    exchangeEnded();
}

void SimTerminal::onPoll() {
    if (m_state != State::Upgrading) {
        fault(QStringLiteral("unexpected progress poll"));
        return;
    }
    m_pollPending = true;
    sendNextProgress();
}

void SimTerminal::sendNextProgress() {
    if (!m_pollPending || m_state != State::Upgrading) return;
    if (m_nextStep >= m_script.progressSteps.size()) {
        exchangeEnded();
        return;
    }
    if (m_script.loopProgressMs > 0 && m_loopClock.elapsed() < m_script.loopProgressMs) {
        // Staying in the progress loop: the same step again after every poll, quietly.
        m_pollPending = false;
        send(Command::Progress,
             TerminalPackets::progressBody(m_script.progressSteps.first() % 100));
        return;
    }
    const quint32 percent = m_script.progressSteps.at(m_nextStep);
    if (percent >= 100 && !m_downloadDone) {
        m_timeout.stop();  // the download's own steps re-arm it
        return;
    }
    m_pollPending = false;
    ++m_nextStep;
    send(Command::Progress, TerminalPackets::progressBody(percent));
    say(QStringLiteral("progress %1 sent").arg(percent));
    if (percent >= 100) exchangeEnded();  // nothing follows a finished upgrade
}

void SimTerminal::onCommand(const SocketPacket& packet) {
    say(QStringLiteral("command: %1").arg(QString::fromUtf8(packet.data)));
    send(Command::Command,
         TerminalPackets::cmdResultBody(m_script.cmdResult, QStringLiteral("done")));
    say(QStringLiteral("command result %1 sent").arg(m_script.cmdResult));
}

void SimTerminal::onFileRequest(const SocketPacket& packet) {
    quint32 type = 0;
    if (!TerminalPackets::parseFileRequest(packet.data, type)) {
        fault(QStringLiteral("short file request"));
        return;
    }
    m_settle.stop();
    m_state = State::Files;
    say(QStringLiteral("file request: type %1").arg(type));
    if (!m_script.files.contains(type)) {
        fault(QStringLiteral("no file given for type %1").arg(type));
        return;
    }
    QFile file(m_script.files.value(type));
    if (!file.open(QIODevice::ReadOnly)) {
        fault(QStringLiteral("cannot read %1").arg(file.fileName()));
        return;
    }
    const QByteArray content = file.readAll();
    const QByteArray name = QFileInfo(file.fileName()).fileName().toUtf8();
    // counter1 = chunk number 1..n, counter2 = n, counter3 = counter4 = 1 (one part).
    const int size = TerminalPackets::kMaxChunkData;
    const quint32 chunks =
        content.isEmpty() ? 1 : static_cast<quint32>((content.size() + size - 1) / size);
    for (quint32 i = 0; i < chunks; ++i)
        send(Command::File,
             TerminalPackets::fileChunkBody(type, name, i + 1, chunks, 1, 1,
                                            content.mid(static_cast<int>(i) * size, size)));
    say(QStringLiteral("file type %1: %2 bytes in %3 chunks sent")
            .arg(type)
            .arg(content.size())
            .arg(chunks));
    m_state = State::Settling;
    m_timeout.stop();
    m_settle.start(m_script.settleMs);
}

void SimTerminal::exchangeEnded() {
    m_timeout.stop();
    if (m_reportsSent < m_script.reports) {
        sendReport();
        return;
    }
    finish();
}

void SimTerminal::finish() {
    m_state = State::Done;
    m_timeout.stop();
    say(QStringLiteral("script done"));
    auto end = [this] {
        if (m_finished) return;
        m_finished = true;
        m_socket.disconnect(this);
        // The last packet must reach the kernel before the process may end.
        m_socket.flush();
        m_socket.disconnectFromHost();
        emit finished(true);
    };
    if (m_script.holdMs > 0)
        QTimer::singleShot(m_script.holdMs, this, end);
    else
        end();
}

void SimTerminal::lost(const QString& why) {
    if (m_finished) return;
    if (m_reconnectsLeft <= 0 || m_state == State::Done) {
        fault(why);
        return;
    }
    --m_reconnectsLeft;
    say(QStringLiteral("%1; reconnecting, %2 more times at most").arg(why).arg(m_reconnectsLeft));
    m_timeout.stop();
    m_settle.stop();
    if (m_download) {
        m_download->disconnect(this);
        m_download->deleteLater();
        m_download = nullptr;
    }
    // Quietly: the abort's own disconnect is not another loss.
    m_socket.blockSignals(true);
    m_socket.abort();
    m_socket.blockSignals(false);
    m_framer.clear();
    m_state = State::Connecting;
    m_reportsSent = 0;
    m_answerPending = false;
    m_pollPending = false;
    m_downloadDone = false;
    m_nextStep = 0;
    QTimer::singleShot(m_script.reconnectDelayMs, this, [this] {
        if (!m_finished) start();
    });
}

void SimTerminal::fault(const QString& why) {
    if (m_finished) return;
    m_finished = true;
    m_ok = false;
    m_timeout.stop();
    m_settle.stop();
    say(QStringLiteral("FAULT: ") + why);
    m_socket.disconnect(this);
    m_socket.abort();
    emit finished(false);
}
