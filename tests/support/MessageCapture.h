#pragma once

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
    // Guarded by the one lock that also guards which capture is active, so a thread that is
    // logging while the capture goes away never appends to a destroyed list.
    QStringList m_lines;
};
