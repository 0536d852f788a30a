#include "files/UploadDigests.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

void UploadDigests::add(const QString& file, qint64 offset, const QByteArray& data) {
    Running running;
    {
        // Taken out while it hashes, so uploads of other files do not wait for it.
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto found = m_running.find(file);
        if (found != m_running.end()) {
            running = std::move(found->second);
            m_running.erase(found);
        }
        if (offset == 0) {
            running.hash = std::make_unique<QCryptographicHash>(QCryptographicHash::Sha256);
            running.bytes = 0;
            running.started = ++m_counter;
        }
    }
    if (!running.hash || running.bytes != offset) return;  // the file changed behind it
    running.hash->addData(data);
    running.bytes += data.size();

    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_running.size() >= kMaxRunning) {
        const auto oldest = std::min_element(
            m_running.begin(), m_running.end(),
            [](const auto& a, const auto& b) { return a.second.started < b.second.started; });
        m_running.erase(oldest);
    }
    m_running[file] = std::move(running);
}

QByteArray UploadDigests::finish(const QString& file, qint64 size, int fd) {
    Running running;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto found = m_running.find(file);
        if (found != m_running.end()) {
            running = std::move(found->second);
            m_running.erase(found);
        }
    }
    if (running.hash && running.bytes == size) return running.hash->result().toHex();

    QCryptographicHash hash(QCryptographicHash::Sha256);
    std::vector<char> piece(1 << 20);
    qint64 offset = 0;
    while (offset < size) {
        const ssize_t got = ::pread(fd, piece.data(), piece.size(), offset);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return QByteArray();
        hash.addData(piece.data(), static_cast<int>(got));
        offset += got;
    }
    return hash.result().toHex();
}

void UploadDigests::forget(const QString& file) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_running.erase(file);
}
