#include "download/DownloadBody.h"

#include <event2/buffer.h>

#include <algorithm>

DownloadBody::~DownloadBody() {
    if (m_segment) evbuffer_file_segment_free(m_segment);
}

void DownloadBody::reset(evbuffer_file_segment* segment, int64_t length) {
    if (m_segment) evbuffer_file_segment_free(m_segment);
    m_segment = segment;
    m_next = 0;
    m_length = segment ? length : 0;
}

bool DownloadBody::feed(evbuffer* out) {
    if (done()) return true;
    const int64_t piece = std::min(kPiece, m_length - m_next);
    if (evbuffer_add_file_segment(out, m_segment, m_next, piece) != 0) return false;
    m_next += piece;
    return true;
}
