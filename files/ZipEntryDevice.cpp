#include "files/ZipEntryDevice.h"

#include <unzip.h>

#include <climits>

namespace {
// An XML declaration, perhaps after a byte order mark, is the one "<?" a part starts with.
constexpr qint64 kDeclarationWithin = 4;
}  // namespace

ZipEntryDevice::ZipEntryDevice(void* zip, qint64 cap, qint64 maxToken)
    : m_zip(zip), m_cap(cap), m_maxToken(maxToken) {}

ZipEntryDevice::~ZipEntryDevice() {
    if (m_entryOpen) unzCloseCurrentFile(static_cast<unzFile>(m_zip));
}

bool ZipEntryDevice::openEntry() {
    if (unzOpenCurrentFile(static_cast<unzFile>(m_zip)) != UNZ_OK) return false;
    m_entryOpen = true;
    return open(QIODevice::ReadOnly);
}

bool ZipEntryDevice::finish() {
    if (!m_entryOpen) return false;
    m_entryOpen = false;
    close();
    // Also checks the checksum of an entry read to its end.
    const bool closed = unzCloseCurrentFile(static_cast<unzFile>(m_zip)) == UNZ_OK;
    return closed && m_end && !m_failed;
}

qint64 ZipEntryDevice::readData(char* data, qint64 maxSize) {
    if (m_failed) return -1;
    // QIODevice asks for nothing at times: that is no end of the entry.
    if (m_end || maxSize <= 0) return 0;
    // One byte past the cap is enough to know it is passed.
    const qint64 wanted = qMin(qMin(maxSize, m_cap - m_read + 1), qint64(INT_MAX));
    const int n = unzReadCurrentFile(static_cast<unzFile>(m_zip), data, unsigned(wanted));
    if (n == 0) m_end = true;
    if (n < 0 || (m_read += n) > m_cap || !acceptable(data, n)) {
        m_failed = true;
        return -1;
    }
    return n;
}

bool ZipEntryDevice::acceptable(const char* data, qint64 size) {
    const qint64 start = m_read - size;
    for (qint64 i = 0; i < size; ++i) {
        const char c = data[i];
        if (m_afterOpen && (c == '!' || (c == '?' && start + i > kDeclarationWithin))) return false;
        m_afterOpen = c == '<';
        m_sinceOpen = m_afterOpen ? 0 : m_sinceOpen + 1;
        if (m_sinceOpen > m_maxToken) return false;
    }
    return true;
}
