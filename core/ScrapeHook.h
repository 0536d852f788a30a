#pragma once

#include "core/MetricsRegistry.h"

// A collector registered for as long as its owner lives: readings of an object that may go
// away before the process does.
class ScrapeHook {
  public:
    ScrapeHook(MetricsRegistry& registry, MetricsRegistry::Collector collector)
        : m_registry(registry), m_id(registry.addCollector(std::move(collector))) {}
    ~ScrapeHook() { m_registry.removeCollector(m_id); }
    ScrapeHook(const ScrapeHook&) = delete;
    ScrapeHook& operator=(const ScrapeHook&) = delete;

  private:
    MetricsRegistry& m_registry;
    const int m_id;
};
