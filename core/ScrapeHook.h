#pragma once

#include "core/MetricsRegistry.h"

// A collector registered for as long as its owner lives: readings of an object that may go
// away before the process does.
class ScrapeHook {
  public:
    explicit ScrapeHook(MetricsRegistry::Collector collector)
        : m_id(MetricsRegistry::instance().addCollector(std::move(collector))) {}
    ~ScrapeHook() { MetricsRegistry::instance().removeCollector(m_id); }
    ScrapeHook(const ScrapeHook&) = delete;
    ScrapeHook& operator=(const ScrapeHook&) = delete;

  private:
    const int m_id;
};
