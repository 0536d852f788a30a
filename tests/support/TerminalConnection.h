#pragma once

#include <QByteArray>

#include "codec/SocketPacketHandler.h"
#include "codec/TerminalPackets.h"
#include "tests/support/FakeTerminal.h"

// One terminal connection speaking whole packets under its own device ID, for the tests that
// play terminals over raw sockets (they link the codec).
class TerminalConnection {
  public:
    TerminalConnection(quint16 port, QByteArray devId) : m_devId(std::move(devId)) {
        m_connected = m_socket.connectTo(port);
    }
    bool connected() const { return m_connected; }
    quint16 localPort() const { return m_socket.localPort(); }

    bool send(quint16 cmd, const QByteArray& body) {
        return m_socket.write(TerminalPackets::frame(cmd, m_devId, ++m_serial, body));
    }
    // Packets in one write, so that the service reads them together.
    bool sendTogether(const QList<QPair<quint16, QByteArray>>& packets) {
        QByteArray bytes;
        for (const auto& packet : packets)
            bytes += TerminalPackets::frame(packet.first, m_devId, ++m_serial, packet.second);
        return m_socket.write(bytes);
    }
    bool report(const DeviceReport& identity) {
        return send(0x0001, TerminalPackets::reportBody(identity, false));
    }
    // The next whole answer; cmd 0 when none came in time.
    SocketPacket next(int timeoutMs = 5000) {
        SocketPacket packet;
        if (!m_socket.waitForData(40, timeoutMs)) return packet;
        const QByteArray& head = m_socket.received();
        const int length =
            42 + ((static_cast<quint8>(head[38]) << 8) | static_cast<quint8>(head[39]));
        if (!m_socket.waitForData(length, timeoutMs) ||
            SocketPacketHandler().DataParse(m_socket.take(length), packet) != 0)
            packet.cmd = 0;
        return packet;
    }
    bool silent(int ms = 500) { return !m_socket.waitForData(1, ms); }
    void close() { m_socket.close(); }

  private:
    FakeTerminal m_socket;
    QByteArray m_devId;
    quint16 m_serial = 0;
    bool m_connected = false;
};
