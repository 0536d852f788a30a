#include "device/BurstLog.h"

#include <QDebug>

BurstLog::BurstLog(QString text, qint64 windowMs) : m_text(std::move(text)), m_windowMs(windowMs) {}

void BurstLog::add(qint64 nowMs) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_pending++ == 0) m_windowStart = nowMs;
}

int BurstLog::flush(qint64 nowMs, bool force) {
    int count = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_pending == 0 || (!force && nowMs - m_windowStart < m_windowMs)) return 0;
        count = m_pending;
        m_pending = 0;
    }
    qWarning().noquote() << m_text.arg(count).arg(m_windowMs / 1000.0);
    return count;
}
