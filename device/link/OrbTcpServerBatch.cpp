// The batches of OrbTcpServer: the packets of one pass of the event loop handled in one
// database transaction, their answers sent once it is committed.
#include <algorithm>

#include <QElapsedTimer>
#include <QThread>

#include "db/PinnedTransaction.h"
#include "device/TcpDataMgtApi.h"
#include "device/TerminalMetrics.h"
#include "device/link/OrbTcpServer.h"
#include "device/link/OrbTcpSocket.h"

void OrbTcpServer::fromHandler(Outbound out) {
    if (m_holding && QThread::currentThread() == thread()) {
        m_held.push_back(std::move(out));
        return;
    }
    const qintptr id = out.socketId;
    if (out.close) {
        QMetaObject::invokeMethod(
            this, [this, id] { closeConnection(id); }, Qt::QueuedConnection);
    } else {
        QMetaObject::invokeMethod(
            this, [this, id, data = std::move(out.data)] { setData(data, id); },
            Qt::QueuedConnection);
    }
}

void OrbTcpServer::postBatch() {
    if (m_batchPosted) return;
    m_batchPosted = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_batchPosted = false;
            handleBatch();
        },
        Qt::QueuedConnection);
}

void OrbTcpServer::handleBatch() {
    if (m_inbox.empty() || m_inBatch) return;
    m_inBatch = true;
    QElapsedTimer clock;
    clock.start();
    {
        // A lone packet needs no transaction: its statements commit as they run.
        std::unique_ptr<PinnedTransaction> transaction;
        if (m_inbox.size() > 1) transaction = std::make_unique<PinnedTransaction>();
        // Without a transaction (the database is away) the answers go out as they are made.
        m_holding = transaction && transaction->isOpen();
        if (m_holding && !m_isPaused) {
            QVector<QPair<qintptr, QByteArray>> ahead;
            const int count = std::min({static_cast<int>(m_inbox.size()), m_limits.batchPackets,
                                        std::max(16, 2 * m_lastBatchHandled)});
            ahead.reserve(count);
            for (int i = 0; i < count; ++i) ahead.append({m_inbox[i].socketId, m_inbox[i].packet});
            // Guarded as a packet is: a read ahead that fails leaves the transaction usable.
            transaction->guard([&] { m_tcpDataMgtApi->prefetch(ahead); });
            clock.restart();
        }
        int handled = 0;
        for (; !m_inbox.empty() && handled < m_limits.batchPackets &&
               (handled == 0 || clock.elapsed() < m_limits.batchMs);
             ++handled) {
            Inbound in = std::move(m_inbox.front());
            m_inbox.pop_front();
            if (--m_queued[in.socket] == 0) m_queued.remove(in.socket);
            if (in.socket->closedForOutput()) {
                m_metrics.refused(TerminalMetrics::Refusal::Closed);
                continue;
            }
            if (!m_isPaused) {
                if (transaction)
                    transaction->guard([&] { deliver(in.socketId, in.packet); });
                else
                    deliver(in.socketId, in.packet);
            }
            if (in.socket->packetHandled())
                QMetaObject::invokeMethod(in.socket, "thisReadData", Qt::QueuedConnection);
        }
        m_lastBatchHandled = handled;
        // A failed commit lost the batch's writes; its terminals are answered all the same.
        if (transaction) transaction->commit();
        m_holding = false;
    }
    m_inBatch = false;
    QVector<Outbound> held;
    held.swap(m_held);
    for (Outbound& out : held) fromHandler(std::move(out));
    if (!m_inbox.empty()) postBatch();
}

void OrbTcpServer::dropQueued(OrbTcpSocket* socket) {
    if (!m_queued.remove(socket)) return;
    for (auto it = m_inbox.begin(); it != m_inbox.end();) {
        if (it->socket != socket) {
            ++it;
            continue;
        }
        m_metrics.refused(TerminalMetrics::Refusal::Closed);
        it = m_inbox.erase(it);
    }
}

bool OrbTcpServer::hasQueued(const QString& key, qintptr socketId) const {
    std::lock_guard<std::mutex> lock(m_mapMutex);
    OrbTcpSocket* socket = m_connections.value(key, nullptr);
    return socket && socket->socketId() == socketId && m_queued.contains(socket);
}
