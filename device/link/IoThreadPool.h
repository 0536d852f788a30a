#pragma once

#include <memory>
#include <vector>

class QObject;
class QThread;

// A fixed set of threads, each running its own event loop and hosting many terminal sockets:
// a connection costs no thread of its own (nor the descriptor of a thread's wake-up pipe).
// Threads are handed out least-loaded first. Main thread only.
class IoThreadPool {
  public:
    // count <= 0: max(2, QThread::idealThreadCount()).
    explicit IoThreadPool(int count = 0);
    // Runs every call already posted to the threads (socket releases among them), then ends them.
    ~IoThreadPool();

    int size() const { return static_cast<int>(m_workers.size()); }
    // The least-loaded thread, counted as carrying one more socket.
    QThread* acquire();
    // One socket of that thread is gone.
    void release(QThread* thread);
    int load(int index) const { return m_workers[static_cast<size_t>(index)].load; }

  private:
    struct Worker {
        QThread* thread = nullptr;
        QObject* anchor = nullptr;  // lives in the thread: posts the final quit behind the rest
        int load = 0;
    };
    std::vector<Worker> m_workers;
};
