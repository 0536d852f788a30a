#include "api/auth/LoginThrottle.h"

#include <algorithm>

namespace {
// Names are matched without case, as people type them.
QString accountKey(const QString& account) {
    return QStringLiteral("account:") + account.toLower();
}
QString addressKey(const QString& address) {
    return QStringLiteral("address:") + address;
}
// Quiet this long after the last failure, an entry starts again from zero.
constexpr qint64 kForgetAfterMs = 60 * 60 * 1000;
}  // namespace

int LoginThrottle::retryAfterSeconds(const QString& account, const QString& address, qint64 nowMs) {
    std::lock_guard<std::mutex> lock(m_mutex);
    qint64 until = 0;
    for (const QString& key : {accountKey(account), addressKey(address)}) {
        const auto found = m_entries.find(key);
        if (found != m_entries.end()) until = std::max(until, found->second.lockedUntilMs);
    }
    return until > nowMs ? static_cast<int>((until - nowMs + 999) / 1000) : 0;
}

void LoginThrottle::count(const QString& key, int threshold, qint64 nowMs) {
    Entry& entry = m_entries[key];
    entry.failures += 1;
    entry.lastFailureMs = nowMs;
    if (entry.failures < threshold) return;
    const int doublings = std::min(entry.failures - threshold, 10);
    entry.lockedUntilMs = nowMs + std::min(kFirstLockMs << doublings, kLongestLockMs);
}

void LoginThrottle::forgetOld(qint64 nowMs) {
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        const bool quiet =
            it->second.lastFailureMs + kForgetAfterMs < nowMs && it->second.lockedUntilMs < nowMs;
        it = quiet ? m_entries.erase(it) : std::next(it);
    }
    // Beyond the bound the oldest entry that locks nothing goes. A lock is never evicted: that
    // would hand its account back to whoever filled the table. With every entry locking, the
    // newest (not yet locking) one goes, so new names wait for the locks to run out.
    while (m_entries.size() > kMaxEntries) {
        auto oldest = m_entries.end();
        for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
            if (it->second.lockedUntilMs > nowMs) continue;
            if (oldest == m_entries.end() ||
                it->second.lastFailureMs < oldest->second.lastFailureMs)
                oldest = it;
        }
        if (oldest == m_entries.end()) break;
        m_entries.erase(oldest);
    }
}

void LoginThrottle::failed(const QString& account, const QString& address, qint64 nowMs) {
    std::lock_guard<std::mutex> lock(m_mutex);
    count(accountKey(account), kAccountFailures, nowMs);
    count(addressKey(address), kAddressFailures, nowMs);
    forgetOld(nowMs);
}

void LoginThrottle::succeeded(const QString& account) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.erase(accountKey(account));
}

size_t LoginThrottle::entryCount() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries.size();
}
