#include "device/link/IoThreadPool.h"

#include <algorithm>

#include <QObject>
#include <QThread>

#include "device/link/EpollEventDispatcher.h"

IoThreadPool::IoThreadPool(int count) {
    if (count <= 0) count = std::max(2, QThread::idealThreadCount());
    m_workers.resize(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        Worker& worker = m_workers[static_cast<size_t>(i)];
        worker.thread = new QThread;
        worker.thread->setObjectName(QStringLiteral("wf-io-%1").arg(i));
        worker.thread->setEventDispatcher(new EpollEventDispatcher);
        worker.anchor = new QObject;
        worker.anchor->moveToThread(worker.thread);
        worker.thread->start();
    }
}

IoThreadPool::~IoThreadPool() {
    // Queued behind every call posted so far, so those run before the loop ends.
    for (Worker& worker : m_workers)
        QMetaObject::invokeMethod(
            worker.anchor, [] { QThread::currentThread()->quit(); }, Qt::QueuedConnection);
    for (Worker& worker : m_workers) {
        worker.thread->wait();
        delete worker.anchor;
        delete worker.thread;
    }
}

QThread* IoThreadPool::acquire() {
    auto least = std::min_element(m_workers.begin(), m_workers.end(),
                                  [](const Worker& a, const Worker& b) { return a.load < b.load; });
    ++least->load;
    return least->thread;
}

void IoThreadPool::release(QThread* thread) {
    for (Worker& worker : m_workers) {
        if (worker.thread == thread) {
            --worker.load;
            return;
        }
    }
}
