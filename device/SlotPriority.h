#pragma once

#include <functional>

#include <QHash>
#include <QtGlobal>

// Which connection gives way to which at the connection limit (server thread only). A
// connection whose report registered a serial number first seen on it is unproven until it
// answers an upgrade offered on it; a terminal the device table already knows takes the place
// of the longest idle of those. Only a report tells what a newcomer is, so while unproven
// connections are open a newcomer at the limit is taken provisionally, a few over the limit:
// known, it stays and an unproven one is closed; new, it is closed without a device made.
class SlotPriority {
  public:
    // What a connection's report made of it, as the message handler tells the server.
    enum class Standing {
        Known,      // a terminal the device table knew, accepted
        NewSerial,  // about to register a serial number first seen
        Impostor,   // a known serial number under another device ID
        Proven,     // an unproven connection answered an upgrade offered on it
    };
    // Told the standing, the server answers whether the connection may go on; one that may not
    // is closed by the handler, without a device made. Main thread only.
    using Hook = std::function<bool(qintptr socketId, Standing standing)>;

    // How far over the limit provisional connections may take it.
    static int marginFor(int connectionLimit);

    explicit SlotPriority(int connectionLimit) : m_margin(marginFor(connectionLimit)) {}

    // A newcomer found the server full: a ticket (never 0) when it may stay provisionally,
    // 0 when not.
    quint64 admitProvisionally(qintptr socketId);
    bool isProvisional(qintptr socketId) const { return m_provisional.contains(socketId); }
    // Still provisional under that ticket (not a later connection with the same ID).
    bool isProvisional(qintptr socketId, quint64 ticket) const {
        return m_provisional.value(socketId) == ticket;
    }

    void unproven(qintptr socketId);
    void proven(qintptr socketId) { m_unprovenSeq.remove(socketId); }
    // A provisional connection turned out to be a known terminal and keeps its slot. Returns the
    // unproven connection to close for it, the longest idle by lastActiveMs, of equals the one
    // registered first; -1 when none is left.
    qintptr settle(qintptr socketId, const std::function<qint64(qintptr)>& lastActiveMs);
    // The connection is gone.
    void forget(qintptr socketId);

  private:
    const int m_margin;
    QHash<qintptr, quint64> m_provisional;  // with their tickets
    QHash<qintptr, quint64> m_unprovenSeq;  // unproven connections, by registration order
    quint64 m_sequence = 0;
};
