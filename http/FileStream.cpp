#include "http/FileStream.h"

#include <event2/buffer.h>
#include <event2/http.h>

#include <QDebug>

#include "http/ClientConnections.h"
#include "http/HttpServerShared.h"

FileStream::FileStream(const Reply& reply, ClientConnections* clients,
                       const std::atomic<bool>& stopping)
    : m_reply(reply), m_clients(clients), m_stopping(stopping) {}

FileStream::~FileStream() {
    // Pieces still queued keep their own references to the segment.
    evbuffer_file_segment_free(m_reply.segment);
}

void FileStream::start(const Reply& reply, ClientConnections* clients,
                       const std::atomic<bool>& stopping) {
    evhttp_connection* evcon = evhttp_request_get_connection(reply.req);
    if (!evcon) {
        http_detail::dropRequest(reply.req);
        evbuffer_file_segment_free(reply.segment);
        return;
    }
    auto* stream = new FileStream(reply, clients, stopping);
    stream->watchClose(evcon, &FileStream::closed);
    http_detail::closeAfterReply(reply.req);
    evhttp_send_reply_start(reply.req, reply.code, reply.reason.constData());
    stream->sendNext();
}

void FileStream::sendNext() {
    if (m_sent >= m_reply.length || m_stopping.load()) return finish();
    const qint64 piece = qMin(m_reply.length - m_sent, m_reply.pieceSize);
    evbuffer* buffer = evbuffer_new();
    // Without this flag the piece would be read into memory instead of sent from the file.
    if (!buffer || evbuffer_set_flags(buffer, EVBUFFER_FLAG_DRAINS_TO_FD) != 0 ||
        evbuffer_add_file_segment(buffer, m_reply.segment, m_sent, piece) != 0) {
        qDebug("[replyClient] Error evbuffer_add_file_segment");
        if (buffer) evbuffer_free(buffer);
        return finish();
    }
    m_sent += piece;
    if (m_reply.logProgress)
        qDebug("[replyClient] add chunck buffer %llu", static_cast<unsigned long long>(m_sent));
    evhttp_send_reply_chunk_with_cb(m_reply.req, buffer, &FileStream::drained, this);
    evbuffer_free(buffer);
}

void FileStream::finish() {
    if (evhttp_connection* evcon = evhttp_request_get_connection(m_reply.req))
        watchClose(evcon, nullptr);
    // Also replaces the drain callback; the connection closes once the last piece is out.
    evhttp_send_reply_end(m_reply.req);
    if (m_reply.logProgress) qDebug("[replyClient] finish %d", 0);
    delete this;
}

void FileStream::watchClose(evhttp_connection* evcon, void (*listener)(evhttp_connection*, void*)) {
    void* arg = listener ? this : nullptr;
    if (m_clients)
        m_clients->setCloseListener(evcon, listener, arg);
    else
        evhttp_connection_set_closecb(evcon, listener, arg);
}

void FileStream::drained(evhttp_connection*, void* arg) {
    static_cast<FileStream*>(arg)->sendNext();
}

void FileStream::closed(evhttp_connection* evcon, void* arg) {
    auto* stream = static_cast<FileStream*>(arg);
    qDebug().noquote() << "[connectClosedCallBack] " + http_detail::peerText(evcon);
    // A connection that failed has handed the request over; otherwise evhttp frees it.
    if (evhttp_request_get_connection(stream->m_reply.req) != evcon)
        evhttp_request_free(stream->m_reply.req);
    delete stream;
}
