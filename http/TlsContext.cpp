#include "http/TlsContext.h"

#include <event2/bufferevent.h>
#include <event2/bufferevent_ssl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <QFile>

namespace {
QString lastSslError() {
    const unsigned long code = ERR_get_error();
    char text[256] = {0};
    if (code != 0) ERR_error_string_n(code, text, sizeof(text));
    ERR_clear_error();
    return QString::fromLatin1(text);
}

// TLS 1.2 suites with forward secrecy and authenticated encryption only; TLS 1.3 keeps
// OpenSSL's own list, which has nothing weaker.
const char* const kCiphers =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:"
    "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
    "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305";
}  // namespace

std::shared_ptr<ssl_ctx_st> TlsContext::load(const QString& certificateFile, const QString& keyFile,
                                             QString& error) {
    for (const QString& file : {certificateFile, keyFile}) {
        QFile probe(file);
        if (!probe.open(QIODevice::ReadOnly)) {
            error = QStringLiteral("cannot read %1").arg(file);
            return nullptr;
        }
    }
    std::shared_ptr<SSL_CTX> context(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
    if (!context) {
        error = QStringLiteral("cannot create a TLS context: %1").arg(lastSslError());
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
    SSL_CTX_set_options(context.get(), SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION |
                                           SSL_OP_CIPHER_SERVER_PREFERENCE);
    SSL_CTX_set_cipher_list(context.get(), kCiphers);
    const QByteArray certificate = QFile::encodeName(certificateFile);
    const QByteArray key = QFile::encodeName(keyFile);
    if (SSL_CTX_use_certificate_chain_file(context.get(), certificate.constData()) != 1) {
        error =
            QStringLiteral("%1 is not a PEM certificate: %2").arg(certificateFile, lastSslError());
        return nullptr;
    }
    if (SSL_CTX_use_PrivateKey_file(context.get(), key.constData(), SSL_FILETYPE_PEM) != 1) {
        error = QStringLiteral("%1 is not a PEM private key: %2").arg(keyFile, lastSslError());
        return nullptr;
    }
    if (SSL_CTX_check_private_key(context.get()) != 1) {
        error = QStringLiteral("%1 is not the key of %2").arg(keyFile, certificateFile);
        ERR_clear_error();
        return nullptr;
    }
    return context;
}

bufferevent* TlsContext::acceptingBufferevent(event_base* base, void* arg) {
    SSL* ssl = SSL_new(static_cast<SSL_CTX*>(arg));
    if (!ssl) return nullptr;
    bufferevent* bev = bufferevent_openssl_socket_new(base, -1, ssl, BUFFEREVENT_SSL_ACCEPTING,
                                                      BEV_OPT_CLOSE_ON_FREE);
    // A client that just closes the connection is no error worth reporting.
    if (bev) bufferevent_openssl_set_allow_dirty_shutdown(bev, 1);
    return bev;
}
