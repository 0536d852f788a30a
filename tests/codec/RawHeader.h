#pragma once

#include <QByteArray>
#include <QtEndian>

// 40 header bytes with magic, cmd and dataLen as given and nothing after them: the malformed
// headers no terminal builder would make.
inline QByteArray rawHeader(quint8 head0, quint8 head1, quint16 cmd, quint16 dataLen) {
    QByteArray out(40, '\0');
    out[0] = static_cast<char>(head0);
    out[1] = static_cast<char>(head1);
    qToBigEndian(cmd, out.data() + 2);
    qToBigEndian(dataLen, out.data() + 38);
    return out;
}
