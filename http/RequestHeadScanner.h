#pragma once

#include <QByteArray>
#include <QtGlobal>

// Follows the bytes of one connection until the end of the first request's head, to learn
// before evhttp reads the body what it announces: evhttp 2.1 offers no hook between the head and
// the body of a request it serves. Only the method, the first Content-Length and the first
// Transfer-Encoding are kept; evhttp itself still parses and checks the request.
class RequestHeadScanner {
  public:
    // Takes the next bytes; returns how many of them belong to the head (all until it ends).
    qsizetype feed(const char* data, qsizetype size);

    bool headDone() const { return m_done; }
    const QByteArray& method() const { return m_method; }
    // The announced body length, or -1 when none (or none that parses).
    qint64 contentLength() const { return m_contentLength; }
    bool chunked() const { return m_chunked; }
    // POST and PUT are the methods whose bodies evhttp reads.
    bool expectsBody() const;

  private:
    void endLine();

    // The current line, cut short: only the start of a line is ever looked at.
    static constexpr int kKeptLineLength = 256;
    QByteArray m_line;
    bool m_firstLine = true;
    bool m_done = false;
    bool m_seenLength = false;
    bool m_seenEncoding = false;
    QByteArray m_method;
    qint64 m_contentLength = -1;
    bool m_chunked = false;
};
