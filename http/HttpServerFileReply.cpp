// HttpServer's file replies: the Range parser and the three ways a file leaves the server
// (a file segment, one buffered reply, or 10 MiB pieces streamed one at a time).
#include <event2/buffer.h>
#include <event2/http.h>
#include <unistd.h>

#include <QDebug>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "http/AcceptEncoding.h"
#include "http/FileSendStrategy.h"
#include "http/HttpServer.h"
#include "http/HttpServerShared.h"

using namespace http_detail;

// State of one file reply shared with the loop thread: the connection's close callback and the
// drain callback of the last streamed piece. Both callbacks are unregistered before the reply
// ends, so they never touch it after the call has returned.
struct HttpServer::FileSend {
    std::atomic<bool> closed{false};
    std::mutex mutex;  // guards drained
    std::condition_variable changed;
    bool drained = true;

    static void closedCallback(evhttp_connection* evcon, void* arg) {
        auto* send = static_cast<FileSend*>(arg);
        qDebug().noquote() << "[connectClosedCallBack] " + peerText(evcon);
        send->closed = true;
        std::lock_guard<std::mutex> lock(send->mutex);
        send->changed.notify_all();
    }
    static void drainedCallback(evhttp_connection*, void* arg) {
        auto* send = static_cast<FileSend*>(arg);
        std::lock_guard<std::mutex> lock(send->mutex);
        send->drained = true;
        send->changed.notify_all();
    }
};

bool HttpServer::parseRange(const QString& value, qint64 fileSize, qint64& offset, qint64& length) {
    QString text = value.trimmed().remove(' ');
    if (!text.startsWith(QLatin1String("bytes="))) return false;
    if (text.contains(',')) return false;
    text.remove(QLatin1String("bytes="));
    const quint64 size = static_cast<quint64>(fileSize);

    // Reads the leading decimal digits; false when there are none.
    auto leadingNumber = [](const QString& s, quint64& number) {
        int digits = 0;
        while (digits < s.size() && s.at(digits).isDigit()) ++digits;
        if (digits == 0) return false;
        bool ok = false;
        const quint64 n = s.left(digits).toULongLong(&ok);
        if (ok) number = n;
        return ok;
    };

    if (text.endsWith('-')) {
        quint64 start = static_cast<quint64>(offset);
        leadingNumber(text, start);
        if (start > size) return false;
        offset = static_cast<qint64>(start);
        length = fileSize - offset;
        qDebug() << "HttpServer::parseRange"
                 << ":"
                 << "offset:" << offset;
        qDebug() << "HttpServer::parseRange"
                 << ":"
                 << "len:" << length;
    } else if (text.startsWith('-')) {
        quint64 suffix = static_cast<quint64>(length);
        leadingNumber(text.mid(1), suffix);
        length = static_cast<qint64>(suffix);
        if (suffix > size) return false;
        offset = fileSize - length;
    } else {
        const int dash = text.indexOf('-');
        if (dash < 0) return false;
        const quint64 first = text.left(dash).toULongLong();
        const quint64 last = text.mid(dash + 1).toULongLong();
        if (first > size || first > last || last >= size) return false;
        offset = static_cast<qint64>(first);
        length = static_cast<qint64>(last - first + 1);
    }
    return offset >= 0 && length > 0;
}

bool HttpServer::replyClient(evhttp_request* req, int code, const QString& reason,
                             const QFile& file, qint64 offset, qint64 length, bool stream) {
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
    if (evbuffer_set_flags(output, EVBUFFER_FLAG_DRAINS_TO_FD) != 0) {
        qDebug("[replyClient] evbuffer_set_flags failed.");
        evbuffer_free(output);
        file.close();
        return false;
    }
    std::unique_ptr<char[]> cache(new (std::nothrow) char[kFilePieceSize]);
    if (!cache) {
        qDebug("[replyClient] cache is null.");
        evbuffer_free(output);
        file.close();
        return false;
    }
    auto release = [&] {
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
        evhttp_connection_set_closecb(evcon, &FileSend::closedCallback, &send);
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
    auto unwatch = [req] {
        if (evhttp_connection* evcon = evhttp_request_get_connection(req))
            evhttp_connection_set_closecb(evcon, nullptr, nullptr);
    };

    QString acceptEncoding;
    const bool hasAcceptEncoding =
        getRequstHeader(req, QStringLiteral("Accept-Encoding"), acceptEncoding);
    stream = streamAfterAcceptEncoding(hasAcceptEncoding, acceptEncoding, stream);

    addHeader(req, QStringLiteral("Content-Length"), QString::number(length));
    const QByteArray reasonText = reason.toUtf8();
    const FileSendStrategy strategy = chooseFileSendStrategy(length, stream);
    auto interrupted = [&] { return m_stopping.load() || send.closed.load(); };

    if (strategy == FileSendStrategy::Segment) {
        evbuffer_file_segment* segment = nullptr;
        if (length > 0) {
            // The segment owns a descriptor of its own: the data is sent by the loop thread
            // after this call has closed the file.
            const int fd = ::dup(file.handle());
            // Under TLS the bytes must pass through OpenSSL: sendfile would put the segment's
            // own bookkeeping on the wire instead.
            const unsigned flags =
                EVBUF_FS_CLOSE_ON_FREE | (m_tls ? EVBUF_FS_DISABLE_SENDFILE : 0u);
            segment = fd < 0 ? nullptr : evbuffer_file_segment_new(fd, offset, length, flags);
            if (!segment) {
                if (fd >= 0) ::close(fd);
                qDebug("[replyClient] Error evbuffer_file_segment_new");
                onLoop(context, unwatch);
                release();
                return false;
            }
            if (evbuffer_add_file_segment(output, segment, 0, length) != 0) {
                if (wholeFile)
                    qDebug("[replyClient] Error evbuffer_add_file_segment: %s",
                           QByteArray::number(errno).constData());
                else
                    qDebug("[replyClient] Error evbuffer_add_file_segment");
                evbuffer_file_segment_free(segment);
                onLoop(context, unwatch);
                release();
                return false;
            }
        }
        if (interrupted()) {
            if (segment) evbuffer_file_segment_free(segment);
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
            closeAfterReply(req);
            evhttp_send_reply(req, code, reasonText.constData(), output);
        });
        handBack(context);
        if (wholeFile)
            qDebug("[replyClient] finish %d", 0);
        else
            qDebug("[replyClient] finish");
        if (segment) evbuffer_file_segment_free(segment);
        release();
        return true;
    }

    file.seek(offset);
    qint64 remaining = length;
    quint64 total = 0;
    if (strategy == FileSendStrategy::Buffered) {
        while (remaining > 0) {
            const qint64 read = file.read(cache.get(), qMin(remaining, kFilePieceSize));
            if (read <= 0) break;
            appendWithRetry(output, cache.get(), static_cast<size_t>(read));
            total += static_cast<quint64>(read);
            if (wholeFile) qDebug("[replyClient] add stream buffer %llu", total);
            remaining -= read;
            if (interrupted()) break;
        }
        // Without a connection evhttp_send_reply only frees the request.
        onLoop(context, [&] {
            unwatch();
            closeAfterReply(req);
            evhttp_send_reply(req, code, reasonText.constData(), output);
        });
        handBack(context);
    } else {
        onLoop(context, [&] {
            if (evhttp_request_get_connection(req)) {
                closeAfterReply(req);
                evhttp_send_reply_start(req, code, reasonText.constData());
            }
        });
        while (remaining > 0) {
            const qint64 read = file.read(cache.get(), qMin(remaining, kFilePieceSize));
            if (read <= 0) break;
            appendWithRetry(output, cache.get(), static_cast<size_t>(read));
            total += static_cast<quint64>(read);
            if (wholeFile) qDebug("[replyClient] add chunck buffer %llu", total);
            {
                // One piece in flight at a time: a slow client must not make the whole file
                // pile up in memory, and a client that left is noticed before the next piece.
                std::unique_lock<std::mutex> lock(send.mutex);
                while (!send.drained && !interrupted())
                    send.changed.wait_for(lock, std::chrono::milliseconds(100));
                if (interrupted()) break;
                send.drained = false;
            }
            onLoop(context, [&] {
                if (evhttp_request_get_connection(req))
                    evhttp_send_reply_chunk_with_cb(req, output, &FileSend::drainedCallback, &send);
                else
                    send.closed = true;
            });
            remaining -= read;
            if (interrupted()) break;
        }
        // Ending the reply also replaces the drain callback; without a connection it frees
        // the request.
        onLoop(context, [&] {
            unwatch();
            evhttp_send_reply_end(req);
        });
        handBack(context);
    }
    if (wholeFile) qDebug("[replyClient] finish %d", 0);
    release();
    return true;
}
