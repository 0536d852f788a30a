#include "MessageCapture.h"

#include <atomic>

namespace {
std::atomic<MessageCapture*> g_active{nullptr};
// Socket threads log while a test installs or removes the capture.
std::atomic<QtMessageHandler> g_previous{nullptr};
}  // namespace

void captureHandler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (MessageCapture* capture = g_active.load()) {
        std::lock_guard<std::mutex> lock(capture->m_mutex);
        capture->m_lines << text;
    }
    if (QtMessageHandler previous = g_previous.load()) previous(type, context, text);
}

MessageCapture::MessageCapture() {
    g_active = this;
    g_previous = qInstallMessageHandler(captureHandler);
}

MessageCapture::~MessageCapture() {
    qInstallMessageHandler(g_previous.load());
    g_active = nullptr;
}

QStringList MessageCapture::lines() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines;
}

bool MessageCapture::contains(const QString& text) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const QString& line : m_lines)
        if (line.contains(text)) return true;
    return false;
}

void MessageCapture::clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lines.clear();
}
