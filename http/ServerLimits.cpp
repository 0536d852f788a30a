#include "http/ServerLimits.h"

bool ServerLimits::reserveBody(qint64 bytes) {
    qint64 held = bodyBytesHeld.load();
    do {
        if (held + bytes > bodyBudget) return false;
    } while (!bodyBytesHeld.compare_exchange_weak(held, held + bytes));
    return true;
}

void ServerLimits::releaseBody(qint64 bytes) {
    bodyBytesHeld.fetch_sub(bytes);
}

bool ServerLimits::takeAddress(const std::string& address) {
    std::lock_guard<std::mutex> lock(m_addressMutex);
    int& held = m_byAddress[address];
    if (held >= maxPerAddress) {
        if (held == 0) m_byAddress.erase(address);
        return false;
    }
    ++held;
    return true;
}

void ServerLimits::releaseAddress(const std::string& address) {
    std::lock_guard<std::mutex> lock(m_addressMutex);
    const auto found = m_byAddress.find(address);
    if (found == m_byAddress.end()) return;
    if (--found->second <= 0) m_byAddress.erase(found);
}
