#pragma once

// In-memory sink that keeps the newest log records for a user interface.

#include <deque>
#include <mutex>

#include <spdlog/details/log_msg_buffer.h>
#include <spdlog/sinks/base_sink.h>

class list_sink final : public spdlog::sinks::base_sink<std::mutex> {
  public:
    static constexpr size_t kKeep = 1000;

    size_t size() {
        std::lock_guard<std::mutex> lock(mutex_);
        return m_records.size();
    }

  protected:
    void sink_it_(const spdlog::details::log_msg& msg) override {
        while (m_records.size() > kKeep) m_records.pop_front();
        m_records.emplace_back(msg);
    }
    void flush_() override {}

  private:
    std::deque<spdlog::details::log_msg_buffer> m_records;
};
