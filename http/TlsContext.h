#pragma once

#include <memory>

#include <QString>

struct ssl_ctx_st;
struct bufferevent;
struct event_base;

// The server side of TLS for an HttpServer: a certificate chain and its key, TLS 1.2 or later
// with forward-secret AEAD ciphers, and the OpenSSL bufferevent evhttp reads each connection
// through.
class TlsContext {
  public:
    // Null, with the reason in error, when the files cannot be read or do not belong together.
    static std::shared_ptr<ssl_ctx_st> load(const QString& certificateFile, const QString& keyFile,
                                            QString& error);
    // evhttp's bufferevent callback; arg is the ssl_ctx_st.
    static bufferevent* acceptingBufferevent(event_base* base, void* arg);
};
