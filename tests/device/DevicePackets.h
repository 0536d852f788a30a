#pragma once

#include <QByteArray>

// Packet builders shared by the device tests.

// A well-formed packet (valid check code) with the given header fields and body.
QByteArray makePacket(quint16 cmd, const QByteArray& body, quint16 serialNo = 1,
                      const QByteArray& devId = "DEV-0001");

// 40 header bytes with magic, cmd and dataLen as given and nothing after them.
QByteArray rawHeader(quint8 head0, quint8 head1, quint16 cmd, quint16 dataLen);

// A fixed-width field: text padded with NUL bytes or cut to `size`.
QByteArray field(const QByteArray& text, int size);
