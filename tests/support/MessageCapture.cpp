#include "tests/support/MessageCapture.h"

#include <atomic>
#include <mutex>

namespace {
// Standard, so that thread sanitizer builds see it.
std::mutex g_mutex;
MessageCapture* g_active = nullptr;  // guarded by g_mutex
// Socket threads log while a test installs or removes the capture.
std::atomic<QtMessageHandler> g_previous{nullptr};
}  // namespace

void captureHandler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (g_active) g_active->m_lines << text;
    }
    if (QtMessageHandler previous = g_previous.load()) previous(type, context, text);
}

MessageCapture::MessageCapture() {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_active = this;
    }
    g_previous = qInstallMessageHandler(captureHandler);
}

MessageCapture::~MessageCapture() {
    qInstallMessageHandler(g_previous.load());
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_active == this) g_active = nullptr;
}

QStringList MessageCapture::lines() const {
    std::lock_guard<std::mutex> lock(g_mutex);
    return m_lines;
}

bool MessageCapture::contains(const QString& text) const {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (const QString& line : m_lines)
        if (line.contains(text)) return true;
    return false;
}

void MessageCapture::clear() {
    std::lock_guard<std::mutex> lock(g_mutex);
    m_lines.clear();
}
