#pragma once

#include <QByteArray>
#include <QString>

// The PROXY protocol header (versions 1 and 2) a load balancer puts before a forwarded
// connection's own bytes, naming the client it came from. No I/O, so it can be fed arbitrary
// chunks in tests and fuzzing.
struct ProxyHeader {
    enum class Status {
        Incomplete,  // a valid beginning; more bytes are needed
        Invalid,     // not a header, or a broken one: the connection cannot be trusted
        Complete,
    };
    // The longest header taken; HAProxy's own are far shorter.
    static constexpr int kMaxLength = 1024;

    Status status = Status::Incomplete;
    int length = 0;  // bytes of the header, when complete
    // False for a health check of the balancer itself (v2 LOCAL) and for an unknown or
    // unspecified family: the connection's own peer stands.
    bool hasSource = false;
    QString sourceAddress;  // "192.0.2.1", "2001:db8::1"
    quint16 sourcePort = 0;

    // Reads the header at the front of bytes.
    static ProxyHeader parse(const QByteArray& bytes);
};
