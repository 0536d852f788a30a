#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QString>
#include <map>
#include <memory>
#include <mutex>

// The SHA-256 of each upload in progress, advanced block by block as the blocks are written,
// so the last block finds it ready. A digest that lost track of its file (the service restarted
// between blocks, or another upload wrote the same file) is dropped, and the file is read once
// more at the end instead.
class UploadDigests {
  public:
    // A block of `data` was written to file at offset `offset` (0 starts the file afresh).
    void add(const QString& file, qint64 offset, const QByteArray& data);
    // The hex SHA-256 of file, which has `size` bytes: from the running digest when it covers
    // exactly those bytes, otherwise read from the open descriptor fd. Empty when reading fails.
    QByteArray finish(const QString& file, qint64 size, int fd);
    void forget(const QString& file);

  private:
    struct Running {
        std::unique_ptr<QCryptographicHash> hash;
        qint64 bytes = 0;
        quint64 started = 0;  // for dropping the oldest of abandoned uploads
    };
    // Uploads abandoned half-way leave their digest behind: only so many are kept.
    static constexpr size_t kMaxRunning = 16;

    std::mutex m_mutex;  // guards m_running and m_counter
    std::map<QString, Running> m_running;
    quint64 m_counter = 0;
};
