#pragma once

#include <mutex>

#include <QString>
#include <QStringList>

// Collects Qt debug/info/warning lines while alive, from any thread.
class MessageCapture {
  public:
    MessageCapture();
    ~MessageCapture();
    MessageCapture(const MessageCapture&) = delete;
    MessageCapture& operator=(const MessageCapture&) = delete;

    QStringList lines() const;
    bool contains(const QString& text) const;  // some line contains text
    void clear();

  private:
    friend void captureHandler(QtMsgType, const QMessageLogContext&, const QString&);
    mutable std::mutex m_mutex;  // guards m_lines; standard so thread sanitizer builds see it
    QStringList m_lines;
};
