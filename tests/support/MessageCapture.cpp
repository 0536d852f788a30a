#include "MessageCapture.h"

#include <atomic>

namespace {
std::atomic<MessageCapture*> g_active{nullptr};
QtMessageHandler g_previous = nullptr;
}  // namespace

void captureHandler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (MessageCapture* capture = g_active.load()) {
        QMutexLocker lock(&capture->m_mutex);
        capture->m_lines << text;
    }
    if (g_previous) g_previous(type, context, text);
}

MessageCapture::MessageCapture() {
    g_active = this;
    g_previous = qInstallMessageHandler(captureHandler);
}

MessageCapture::~MessageCapture() {
    qInstallMessageHandler(g_previous);
    g_active = nullptr;
}

QStringList MessageCapture::lines() const {
    QMutexLocker lock(&m_mutex);
    return m_lines;
}

bool MessageCapture::contains(const QString& text) const {
    QMutexLocker lock(&m_mutex);
    for (const QString& line : m_lines)
        if (line.contains(text)) return true;
    return false;
}

void MessageCapture::clear() {
    QMutexLocker lock(&m_mutex);
    m_lines.clear();
}
