#include "device/RegistrationLimiter.h"

#include <QElapsedTimer>

#include <algorithm>

namespace {
qint64 steadyNowMs() {
    static QElapsedTimer clock = [] {
        QElapsedTimer started;
        started.start();
        return started;
    }();
    return clock.elapsed();
}
}  // namespace

RegistrationLimiter::RegistrationLimiter(quint32 perMinutePerAddress, quint32 perMinute,
                                         qint64 logWindowMs)
    : m_perAddress(perMinutePerAddress),
      m_overall(perMinute),
      m_total{double(perMinute), steadyNowMs()},
      m_refusals(QStringLiteral("[TcpDataMgtApi] refused %1 new serial numbers over the "
                                "registration limits (") +
                     QString::number(perMinutePerAddress) +
                     QStringLiteral(" a minute per address, ") + QString::number(perMinute) +
                     QStringLiteral(" in all; %2 s window); their connections were closed"),
                 logWindowMs) {
    m_flush.setSingleShot(true);
    m_flush.setInterval(static_cast<int>(logWindowMs));
    QObject::connect(&m_flush, &QTimer::timeout, [this] { m_refusals.flush(0, true); });
}

bool RegistrationLimiter::admit(const QString& address) {
    return admit(address, steadyNowMs());
}

bool RegistrationLimiter::admit(const QString& address, qint64 nowMs) {
    refill(m_total, m_overall, nowMs);
    // The overall bucket first: a stream of fresh addresses is held there, before it can make
    // the address table work.
    bool admitted = m_overall == 0 || m_total.tokens >= 1;
    Bucket* own = nullptr;
    if (admitted && m_perAddress > 0) {
        own = &addressBucket(address, nowMs);
        admitted = own->tokens >= 1;
    }
    if (!admitted) {
        m_refusals.add(nowMs);
        if (m_refusals.flush(nowMs) == 0 && !m_flush.isActive()) m_flush.start();
        return false;
    }
    if (m_overall > 0) m_total.tokens -= 1;
    if (own) own->tokens -= 1;
    return true;
}

void RegistrationLimiter::refill(Bucket& bucket, quint32 perMinute, qint64 nowMs) {
    const double earned = double(nowMs - bucket.atMs) * perMinute / 60000.0;
    bucket.tokens = std::min<double>(perMinute, bucket.tokens + std::max(0.0, earned));
    bucket.atMs = nowMs;
}

RegistrationLimiter::Bucket& RegistrationLimiter::addressBucket(const QString& address,
                                                                qint64 nowMs) {
    auto it = m_byAddress.find(address);
    if (it == m_byAddress.end()) {
        if (m_byAddress.size() >= kMaxAddresses) {
            // A full bucket is what a forgotten address starts with again: nothing is lost.
            for (auto old = m_byAddress.begin(); old != m_byAddress.end();) {
                refill(old.value(), m_perAddress, nowMs);
                if (old.value().tokens >= m_perAddress)
                    old = m_byAddress.erase(old);
                else
                    ++old;
            }
            // All of them busy: one of them starts over; the overall bucket still holds.
            if (m_byAddress.size() >= kMaxAddresses) m_byAddress.erase(m_byAddress.begin());
        }
        it = m_byAddress.insert(address, Bucket{double(m_perAddress), nowMs});
    }
    refill(it.value(), m_perAddress, nowMs);
    return it.value();
}
