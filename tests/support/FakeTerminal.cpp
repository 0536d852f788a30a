#include "tests/support/FakeTerminal.h"

#include "tests/support/ServiceProcess.h"

bool FakeTerminal::connectTo(quint16 port, const QHostAddress& host, int timeoutMs) {
    m_socket.connectToHost(host, port);
    return m_socket.waitForConnected(timeoutMs);
}

bool FakeTerminal::connectFrom(const QHostAddress& source, quint16 port) {
    return m_socket.bind(source) && connectTo(port);
}

bool FakeTerminal::write(const QByteArray& bytes, int timeoutMs) {
    if (m_socket.write(bytes) != bytes.size()) return false;
    return waitUntil([this] { return m_socket.bytesToWrite() == 0; }, timeoutMs);
}

void FakeTerminal::drain() {
    if (m_socket.bytesAvailable() > 0) m_received.append(m_socket.readAll());
}

bool FakeTerminal::waitForData(int length, int timeoutMs) {
    return waitUntil(
        [&] {
            drain();
            return m_received.size() >= length;
        },
        timeoutMs);
}

bool FakeTerminal::waitForDisconnect(int timeoutMs) {
    return waitUntil(
        [&] {
            drain();
            return m_socket.state() == QAbstractSocket::UnconnectedState;
        },
        timeoutMs);
}

QByteArray FakeTerminal::take(int length) {
    drain();
    if (length < 0) length = m_received.size();
    QByteArray head = m_received.left(length);
    m_received.remove(0, length);
    return head;
}
