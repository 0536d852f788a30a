#pragma once

// Log file sink: a new time-stamped file at every start, at every maxSize bytes and at local
// midnight; the oldest files beyond the retention count, and those older than the retention
// days, deleted.

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

#include <spdlog/sinks/base_sink.h>

class rotating_file_mod_sink final : public spdlog::sinks::base_sink<std::mutex> {
  public:
    rotating_file_mod_sink(std::string baseName, std::string extension, std::string directory,
                           size_t maxSize, size_t maxFiles);
    ~rotating_file_mod_sink() override;

    std::string currentPath() const { return m_path; }

    // Limits an operator sets after the start; retentionDays 0 keeps files of any age. Files
    // beyond them go at once.
    void setLimits(size_t maxSize, size_t maxFiles, int retentionDays);

    // "<base>_YYYY-MM-DD_hh-mm-ss_mmm.<ext>" for the given local time in milliseconds.
    static std::string fileNameFor(const std::string& base, const std::string& ext,
                                   long long msecsSinceEpoch);

  protected:
    void sink_it_(const spdlog::details::log_msg& msg) override;
    void flush_() override;

  private:
    void openNewFile();
    void rotate();
    void removeOldFiles();

    std::string m_baseName;
    std::string m_extension;
    size_t m_maxSize;
    size_t m_maxFiles;
    int m_retentionDays = 0;
    size_t m_currentSize = 0;
    std::string m_directory;
    std::FILE* m_file = nullptr;
    std::string m_path;
    // The local midnight that ends the current file's day.
    std::chrono::system_clock::time_point m_dayEnd;
};
