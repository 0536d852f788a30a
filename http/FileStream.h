#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <atomic>

class ClientConnections;
struct evbuffer_file_segment;
struct evhttp_connection;
struct evhttp_request;

// A file reply that its event loop sends piece by piece: each piece is a stretch of one file
// segment, queued once the piece before it has been written to the socket. Neither the file
// nor a worker is held for a slow client; the send ends after the current piece when the
// client goes away or the server stops. Lives on the loop thread and deletes itself.
class FileStream {
  public:
    struct Reply {
        evhttp_request* req;
        int code;
        QByteArray reason;
        evbuffer_file_segment* segment;  // over the extent; the stream takes it over
        qint64 length;
        qint64 pieceSize;
        bool logProgress;  // the whole-file form's running total and last line
    };

    // On the loop thread: starts the reply, or frees the request if its client is gone.
    // Without `clients` (a request outside a running handler) the close is watched directly.
    static void start(const Reply& reply, ClientConnections* clients,
                      const std::atomic<bool>& stopping);

  private:
    FileStream(const Reply& reply, ClientConnections* clients, const std::atomic<bool>& stopping);
    ~FileStream();

    void watchClose(evhttp_connection* evcon, void (*listener)(evhttp_connection*, void*));
    void sendNext();
    void finish();
    static void drained(evhttp_connection*, void* arg);
    static void closed(evhttp_connection* evcon, void* arg);

    Reply m_reply;
    ClientConnections* m_clients;
    const std::atomic<bool>& m_stopping;
    qint64 m_sent = 0;
};
