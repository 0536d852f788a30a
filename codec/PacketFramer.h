#pragma once

#include <QByteArray>

// Cuts a terminal's byte stream into whole packets by the header alone (magic, cmd 1..7,
// dataLen <= 1400); the check code is left to the message handler. No I/O, so it can be fed
// arbitrary chunks in tests and fuzzing.
class PacketFramer {
  public:
    void append(const QByteArray& bytes) { m_buffer.append(bytes); }

    // > 0: a whole packet of that many bytes waits at the front of the buffer.
    //   0: more bytes are needed (the header is not examined until more than 40 bytes wait).
    //  -1: the header is invalid; the stream cannot be resynchronised.
    int pendingPacketLength() const;

    // Removes and returns the first `length` bytes.
    QByteArray take(int length);

    void clear() { m_buffer.clear(); }
    const QByteArray& buffer() const { return m_buffer; }

  private:
    QByteArray m_buffer;
};
