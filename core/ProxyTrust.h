#pragma once

#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// The peers whose word on a client's address is believed: the load balancers (a PROXY header on
// the terminal port, X-Forwarded-For on the management port). Any other peer is served under its
// own address, so that nobody can name himself another terminal or another operator.
class ProxyTrust {
  public:
    // Loopback only: a balancer on the same host.
    ProxyTrust();

    // Comma-separated addresses or CIDR ranges (IPv4 or IPv6); empty: loopback only. Entries
    // that do not parse are left out and named in `invalid`.
    static ProxyTrust parse(const QString& text, QStringList* invalid = nullptr);

    bool trusts(const QHostAddress& peer) const;
    // The address at the other end of an accepted socket (null when it is gone).
    static QHostAddress peerOf(qintptr descriptor);
    // The ranges, comma-separated, for the start-up line.
    QString text() const;

  private:
    QList<QPair<QHostAddress, int>> m_ranges;
};
