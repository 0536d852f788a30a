#pragma once

#include <QtGlobal>
#include <atomic>
#include <mutex>
#include <string>
#include <unordered_map>

// What the loops of one server share to bound what its clients can make it hold: request bodies
// in memory and connections. Set before start; the counters are updated from every loop.
struct ServerLimits {
    qint64 bodyBudget = 256LL * 1024 * 1024;  // bytes of request bodies held at once
    int maxConnections = 1024;
    int maxPerAddress = 256;  // connections of one source address held at once
    int stallSeconds = 30;    // headers complete within, and a body never silent for longer
    int acceptPauseMs = 1000;
    qint64 maxBodySize = 64LL * 1024 * 1024;  // larger bodies are refused by evhttp (413)

    std::atomic<qint64> bodyBytesHeld{0};
    std::atomic<int> connections{0};
    // Set while accepting is paused for want of descriptors, so that a burst logs one line.
    std::atomic<bool> acceptPaused{false};

    // False, and nothing taken, when the bytes would take the held bodies beyond the budget.
    bool reserveBody(qint64 bytes);
    void releaseBody(qint64 bytes);
    // False, and nothing taken, when the address already holds its share of the connections.
    bool takeAddress(const std::string& address);
    void releaseAddress(const std::string& address);

  private:
    std::mutex m_addressMutex;
    // Only addresses with a connection held: at most maxConnections entries.
    std::unordered_map<std::string, int> m_byAddress;
};
