#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <QtGlobal>

// A blocking connection to a port of this host, for tests that need what Qt's socket hides:
// a small receive buffer (the kernel then holds little unread on the test's side), or sends
// that give up after sendTimeoutSecs. -1 when it fails.
inline int rawConnection(quint16 port, int receiveBuffer = 0, int sendTimeoutSecs = 0) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    if (receiveBuffer > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    if (sendTimeoutSecs > 0) {
        const timeval timeout{sendTimeoutSecs, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    }
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) return fd;
    ::close(fd);
    return -1;
}
