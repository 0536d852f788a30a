#pragma once

#include <mutex>

#include <QString>

// Counts events of one kind from any thread and writes at most one debug line per window with
// the count since the last line: a burst of thousands of refusals costs one line, not thousands.
class BurstLog {
  public:
    // text takes the count as %1 and the window in seconds as %2.
    BurstLog(QString text, qint64 windowMs);

    void add(qint64 nowMs);
    // Writes the line once events wait and the window of the first of them has passed (at once
    // with force). Returns the count written, 0 when nothing was.
    int flush(qint64 nowMs, bool force = false);

  private:
    std::mutex m_mutex;
    const QString m_text;
    const qint64 m_windowMs;
    int m_pending = 0;
    qint64 m_windowStart = 0;
};
