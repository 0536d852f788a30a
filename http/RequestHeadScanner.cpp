#include "http/RequestHeadScanner.h"

qsizetype RequestHeadScanner::feed(const char* data, qsizetype size) {
    qsizetype used = 0;
    while (used < size && !m_done) {
        const char c = data[used++];
        if (c == '\n') {
            endLine();
        } else if (m_line.size() < kKeptLineLength) {
            m_line.append(c);
        }
    }
    return used;
}

bool RequestHeadScanner::expectsBody() const {
    return m_method == "POST" || m_method == "PUT";
}

void RequestHeadScanner::endLine() {
    if (m_line.endsWith('\r')) m_line.chop(1);
    if (m_firstLine) {
        m_firstLine = false;
        m_method = m_line.left(m_line.indexOf(' '));
    } else if (m_line.isEmpty()) {
        m_done = true;
    } else {
        // As evhttp: the first header of a name counts, its value trimmed of blanks.
        const int colon = m_line.indexOf(':');
        const QByteArray name = m_line.left(colon).toLower();
        const QByteArray value = m_line.mid(colon + 1).trimmed();
        if (colon > 0 && name == "content-length" && !m_seenLength) {
            m_seenLength = true;
            bool ok = false;
            const qint64 length = value.toLongLong(&ok);
            if (ok && length >= 0) m_contentLength = length;
        } else if (colon > 0 && name == "transfer-encoding" && !m_seenEncoding) {
            m_seenEncoding = true;
            m_chunked = value.toLower() == "chunked";
        }
    }
    m_line.clear();
}
