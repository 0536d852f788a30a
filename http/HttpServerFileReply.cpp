// HttpServer's file replies: the three ways a file leaves the server
// (one file segment, one reply of 10 MiB segment pieces, or those pieces streamed one at a
// time by the loop).
#include <event2/buffer.h>
#include <event2/http.h>
#include <unistd.h>

#include <QDebug>
#include <cerrno>

#include "http/AcceptEncoding.h"
#include "http/FileSendStrategy.h"
#include "http/FileStream.h"
#include "http/HttpServer.h"
#include "http/HttpServerShared.h"

using namespace http_detail;

// The closed flag of one file reply, set by the connection's close callback on the loop
// thread; the callback is unregistered before the reply ends.
struct HttpServer::FileSend {
    std::atomic<bool> closed{false};

    static void closedCallback(evhttp_connection* evcon, void* arg) {
        qDebug().noquote() << "[connectClosedCallBack] " + peerText(evcon);
        static_cast<FileSend*>(arg)->closed = true;
    }
};

bool HttpServer::replyClient(evhttp_request* req, int code, const QString& reason, QFile& file,
                             qint64 offset, qint64 length, bool stream) {
    // Opened by the caller: the bytes come from the version it took its headers from.
    if (file.isOpen())
        return sendFileExtent(req, code, reason, file, offset, length, stream, false);
    QFile own(file.fileName());
    if (!own.exists()) {
        qDebug("[replyClient] no file.");
        return false;
    }
    if (!own.open(QIODevice::ReadOnly)) {
        qDebug("[replyClient] open file failed.");
        return false;
    }
    if (!own.isReadable() || !own.seek(0)) {
        qDebug("[replyClient] file is not readable.");
        return false;
    }
    return sendFileExtent(req, code, reason, own, offset, length, stream, false);
}

bool HttpServer::replyClient(evhttp_request* req, int code, const QString& reason, QFile& file,
                             bool stream) {
    if (!file.exists()) {
        qDebug("[replyClient] no file.");
        return false;
    }
    if (!file.isOpen() && !file.open(QIODevice::ReadOnly)) {
        qDebug("[replyClient] open file failed.");
        return false;
    }
    if (!file.isReadable() || !file.seek(0)) {
        qDebug("[replyClient] file is not readable.");
        file.close();
        return false;
    }
    return sendFileExtent(req, code, reason, file, 0, file.size(), stream, true);
}

bool HttpServer::sendFileExtent(evhttp_request* req, int code, const QString& reason, QFile& file,
                                qint64 offset, qint64 length, bool stream, bool wholeFile) {
    evbuffer* output = evbuffer_new();
    if (!output) {
        qDebug("[replyClient] failed to create response buffer.");
        file.close();
        return false;
    }
    // File segments added to a buffer without this flag would be read into memory.
    if (evbuffer_set_flags(output, EVBUFFER_FLAG_DRAINS_TO_FD) != 0) {
        qDebug("[replyClient] evbuffer_set_flags failed.");
        evbuffer_free(output);
        file.close();
        return false;
    }
    evbuffer_file_segment* segment = nullptr;
    auto release = [&] {
        if (segment) evbuffer_file_segment_free(segment);
        evbuffer_free(output);
        file.close();
    };

    const qint64 fileSize = file.size();
    if (length == -1 || fileSize - offset < length) length = fileSize - offset;
    if (offset < 0 || length < 0) {
        // An offset past the end (or before the start) has nothing to send.
        qDebug("[replyClient] invalid range.");
        release();
        return false;
    }

    RequestContext* context = contextOf(req);
    FileSend send;
    bool connected = false;
    onLoop(context, [&] {
        evhttp_connection* evcon = evhttp_request_get_connection(req);
        if (!evcon) return;
        connected = true;
        watchClose(context, evcon, &FileSend::closedCallback, &send);
    });
    if (!connected) {
        if (!wholeFile) qDebug("[replyClient] disconnected.");
        onLoop(context, [req] { dropRequest(req); });
        handBack(context);
        release();
        return false;
    }
    // Every way out of here unregisters the close callback on the loop thread, together with
    // the last operation on the request, so that it never sees `send` after this call.
    auto unwatch = [req, context] {
        if (evhttp_connection* evcon = evhttp_request_get_connection(req))
            watchClose(context, evcon, nullptr, nullptr);
    };

    QString acceptEncoding;
    const bool hasAcceptEncoding =
        getRequstHeader(req, QStringLiteral("Accept-Encoding"), acceptEncoding);
    stream = streamAfterAcceptEncoding(hasAcceptEncoding, acceptEncoding, stream);

    addHeader(req, QStringLiteral("Content-Length"), QString::number(length));
    const QByteArray reasonText = reason.toUtf8();
    const FileSendStrategy strategy = chooseFileSendStrategy(length, stream);
    auto interrupted = [&] { return m_stopping.load() || send.closed.load(); };

    // Every strategy sends from one segment over the extent: the loop thread writes it straight
    // from the file, so no size is ever held in memory. It owns a descriptor of its own, as the
    // data leaves after this call has closed the file. HEAD gets the headers alone.
    const bool headersOnly = evhttp_request_get_command(req) == EVHTTP_REQ_HEAD;
    if (length > 0 && !headersOnly) {
        const int fd = ::dup(file.handle());
        // Under TLS the bytes must pass through OpenSSL: sendfile would put the segment's own
        // bookkeeping on the wire instead.
        const unsigned flags = EVBUF_FS_CLOSE_ON_FREE | (m_tls ? EVBUF_FS_DISABLE_SENDFILE : 0u);
        segment = fd < 0 ? nullptr : evbuffer_file_segment_new(fd, offset, length, flags);
        if (!segment) {
            if (fd >= 0) ::close(fd);
            qDebug("[replyClient] Error evbuffer_file_segment_new");
            onLoop(context, unwatch);
            release();
            return false;
        }
    }

    if (strategy == FileSendStrategy::Streamed && segment) {
        // The loop sends the pieces: the handler returns, and the request lock with it, while
        // the client reads.
        FileStream::Reply reply{req, code, reasonText, segment, length, kFilePieceSize, wholeFile};
        ClientConnections* clients = clientsOf(context);
        const std::atomic<bool>& stopping = m_stopping;
        onLoop(context, [&] {
            unwatch();
            FileStream::start(reply, clients, stopping);
        });
        segment = nullptr;  // the stream's now
        handBack(context, code);
        release();
        return true;
    }

    // A file segment, or the buffered reply: the same extent added in 10 MiB pieces.
    const qint64 piece = strategy == FileSendStrategy::Segment ? length : kFilePieceSize;
    qint64 added = 0;
    while (segment && added < length) {
        const qint64 size = qMin(length - added, piece);
        if (evbuffer_add_file_segment(output, segment, added, size) != 0) {
            if (wholeFile)
                qDebug("[replyClient] Error evbuffer_add_file_segment: %s",
                       QByteArray::number(errno).constData());
            else
                qDebug("[replyClient] Error evbuffer_add_file_segment");
            onLoop(context, unwatch);
            release();
            return false;
        }
        added += size;
        if (wholeFile && strategy == FileSendStrategy::Buffered)
            qDebug("[replyClient] add stream buffer %llu", static_cast<unsigned long long>(added));
        if (interrupted()) break;
    }
    if (interrupted()) {
        bool dropped = false;
        onLoop(context, [&] {
            unwatch();
            dropped = dropRequest(req);
        });
        if (dropped) handBack(context);
        release();
        return true;
    }
    onLoop(context, [&] {
        unwatch();
        sendReply(req, code, reasonText.constData(), output);
    });
    handBack(context, code);
    if (wholeFile)
        qDebug("[replyClient] finish %d", 0);
    else if (strategy == FileSendStrategy::Segment)
        qDebug("[replyClient] finish");
    release();
    return true;
}
