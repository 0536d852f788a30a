#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QTcpSocket>

// A terminal's end of a TCP connection for tests, on the test's thread: every wait processes
// Qt events until its condition holds or the deadline passes.
class FakeTerminal {
  public:
    FakeTerminal() = default;
    FakeTerminal(const FakeTerminal&) = delete;
    FakeTerminal& operator=(const FakeTerminal&) = delete;

    bool connectTo(quint16 port, const QHostAddress& host = QHostAddress::LocalHost,
                   int timeoutMs = 5000);
    // The same from a source address of this host's (127.0.0.2, say: another terminal's).
    bool connectFrom(const QHostAddress& source, quint16 port);
    // Writes everything and waits until it has left our buffer.
    bool write(const QByteArray& bytes, int timeoutMs = 5000);
    // Waits until at least `length` received bytes are buffered.
    bool waitForData(int length, int timeoutMs = 15000);
    // Waits until the peer has closed the connection.
    bool waitForDisconnect(int timeoutMs = 5000);

    bool isConnected() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    quint16 localPort() const { return m_socket.localPort(); }
    // Bytes received and not yet taken.
    const QByteArray& received() const { return m_received; }
    // Removes and returns the first `length` received bytes (all with -1).
    QByteArray take(int length = -1);
    void close() { m_socket.close(); }

  private:
    void drain();

    QTcpSocket m_socket;
    QByteArray m_received;
};
