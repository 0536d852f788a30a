#include "core/RotatingFileModSink.h"

#include <chrono>
#include <thread>

#include <fmt/format.h>
#include <spdlog/common.h>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
std::chrono::system_clock::time_point nextMidnightAfter(std::chrono::system_clock::time_point t) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch());
    const QDate day = QDateTime::fromMSecsSinceEpoch(ms.count()).date().addDays(1);
    return std::chrono::system_clock::time_point(
        std::chrono::milliseconds(QDateTime(day, QTime(0, 0)).toMSecsSinceEpoch()));
}
}  // namespace

rotating_file_mod_sink::rotating_file_mod_sink(std::string baseName, std::string extension,
                                               std::string directory, size_t maxSize,
                                               size_t maxFiles)
    : m_baseName(std::move(baseName)),
      m_extension(std::move(extension)),
      m_maxSize(maxSize),
      m_maxFiles(maxFiles),
      m_directory(std::move(directory)),
      m_dayEnd(nextMidnightAfter(std::chrono::system_clock::now())) {
    openNewFile();
}

void rotating_file_mod_sink::setLimits(size_t maxSize, size_t maxFiles, int retentionDays) {
    std::lock_guard<std::mutex> lock(mutex_);
    m_maxSize = maxSize;
    m_maxFiles = maxFiles;
    m_retentionDays = retentionDays;
    removeOldFiles();
}

rotating_file_mod_sink::~rotating_file_mod_sink() {
    if (m_file) std::fclose(m_file);
}

std::string rotating_file_mod_sink::fileNameFor(const std::string& base, const std::string& ext,
                                                long long msecsSinceEpoch) {
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch);
    const QDate d = t.date();
    const QTime tm = t.time();
    return fmt::format("{}_{:04d}-{:02d}-{:02d}_{:02d}-{:02d}-{:02d}_{:03d}.{}", base, d.year(),
                       d.month(), d.day(), tm.hour(), tm.minute(), tm.second(), tm.msec(), ext);
}

void rotating_file_mod_sink::openNewFile() {
    std::string path;
    // A rotation within the millisecond of the last opening would reopen the same file and
    // let it grow past the limit; wait for a fresh name.
    for (;;) {
        path = m_directory + "/" +
               fileNameFor(m_baseName, m_extension, QDateTime::currentMSecsSinceEpoch());
        if (path != m_path) break;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    m_path = path;
    for (int attempt = 0; attempt < 5; ++attempt) {
        m_file = std::fopen(m_path.c_str(), "ab");
        if (m_file) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!m_file) throw spdlog::spdlog_ex("Failed opening file " + m_path + " for writing");
    std::fseek(m_file, 0, SEEK_END);
    const long size = std::ftell(m_file);
    m_currentSize = size > 0 ? static_cast<size_t>(size) : 0;
}

void rotating_file_mod_sink::sink_it_(const spdlog::details::log_msg& msg) {
    spdlog::memory_buf_t formatted;
    formatter_->format(msg, formatted);
    m_currentSize += formatted.size();
    // The entry that crosses the limit, or the first of a day, begins the new file.
    if (m_currentSize > m_maxSize || msg.time >= m_dayEnd) {
        m_dayEnd = nextMidnightAfter(msg.time);
        rotate();
        m_currentSize = formatted.size();
    }
    if (!m_file || std::fwrite(formatted.data(), 1, formatted.size(), m_file) != formatted.size())
        throw spdlog::spdlog_ex("Failed writing to file " + m_path);
    std::fflush(m_file);
}

void rotating_file_mod_sink::flush_() {
    if (m_file) std::fflush(m_file);
}

void rotating_file_mod_sink::rotate() {
    if (m_file) {
        std::fclose(m_file);
        m_file = nullptr;
    }
    openNewFile();
    removeOldFiles();
}

void rotating_file_mod_sink::removeOldFiles() {
    QDir dir(QString::fromLocal8Bit(m_directory.c_str()));
    const QString filter = QStringLiteral("%1*.%2").arg(QString::fromStdString(m_baseName),
                                                        QString::fromStdString(m_extension));
    QStringList files = dir.entryList({filter}, QDir::Files, QDir::Name);
    // Names carry zero-padded time stamps, so name order is age order, and a file opened before
    // the retention days sorts before the name a file opened at their start would have.
    const QString oldestKept =
        m_retentionDays > 0
            ? QString::fromStdString(fileNameFor(
                  m_baseName, m_extension,
                  QDateTime::currentMSecsSinceEpoch() - qint64(m_retentionDays) * 86400000))
            : QString();
    const QString current = QFileInfo(QString::fromStdString(m_path)).fileName();
    while (!files.isEmpty() && files.first() != current &&
           (static_cast<size_t>(files.size()) > m_maxFiles || files.first() < oldestKept)) {
        QFile::remove(dir.filePath(files.takeFirst()));
    }
}
