#pragma once

#include <QtGlobal>

#include "codec/SocketPacket.h"

// One file requested from a terminal on one connection, from the request to its final chunk:
// the bytes it stored against its quota, and whether every chunk arrived in order and was
// written, so that its request is cleared only for a file stored whole.
class DeviceFileTransfer {
  public:
    enum class Verdict { More, Whole, Broken };

    explicit DeviceFileTransfer(qint64 quotaBytes = 0) : m_quotaBytes(quotaBytes) {}

    // Whether the chunk's bytes may still be stored. Past the quota nothing more is, and
    // firstRefusal is set once, for the log.
    bool admit(const DeviceFileData& chunk, bool& firstRefusal);
    // The first chunk starts its file afresh rather than continue a broken earlier transfer.
    bool startsFile() const { return !m_started; }
    // Counts the chunk once its write was tried; at the final chunk, whether the file is whole.
    Verdict record(const DeviceFileData& chunk, bool written);

  private:
    qint64 m_quotaBytes;
    qint64 m_bytes = 0;
    quint32 m_next = 1;  // the chunk number due
    bool m_started = false;
    bool m_whole = true;
    bool m_refused = false;
};
