// storm_floor <port>: what this machine can do at all for a reporting fleet. A minimal epoll
// server on 127.0.0.1 that cuts each connection's stream into packets, parses the device
// report with the service's codec and sends the answer the service sends a terminal with no
// upgrade waiting, the same bytes; no database, no threads, nothing else.
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <unordered_map>

#include "codec/PacketFramer.h"
#include "codec/SocketPacketHandler.h"

namespace {
struct Connection {
    PacketFramer framer;
    QByteArray out;
};

const SocketPacketHandler kCodec;

// The no-upgrade answer to a report, as the service packs it; empty for anything else.
QByteArray answer(const QByteArray& packet) {
    SocketPacket header;
    DeviceReport report;
    QByteArray body;
    QByteArray out;
    if (kCodec.DataParse(packet, header) != 0 || header.cmd != code(Command::Report) ||
        kCodec.ParseDeviceReport(header.data, false, report) != 0 ||
        kCodec.PackUpgradeFlag(UpgradeFlagData{}, body) != 0)
        return out;
    const SocketPacket reply = SocketPacketHandler::AnswerHeader(header, Command::UpgradeAnswer,
                                                                 static_cast<quint16>(body.size()));
    kCodec.DataPack(reply, body, out);
    return out;
}

// False when the connection is to be closed.
bool serve(int fd, Connection& c) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EAGAIN) break;
        if (n <= 0) return false;
        c.framer.append(QByteArray(buffer, static_cast<int>(n)));
    }
    for (int length; (length = c.framer.pendingPacketLength()) != 0;) {
        if (length < 0) return false;
        c.out += answer(c.framer.take(length));
    }
    // A terminal waits for its answer before it reports again: the kernel takes it whole.
    while (!c.out.isEmpty()) {
        const ssize_t n =
            ::send(fd, c.out.constData(), static_cast<size_t>(c.out.size()), MSG_NOSIGNAL);
        if (n <= 0) return false;
        c.out.remove(0, static_cast<int>(n));
    }
    return true;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: storm_floor <port>\n");
        return 2;
    }
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<quint16>(std::atoi(argv[1])));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 4096) != 0) {
        std::perror("storm_floor");
        return 1;
    }
    const int epoll = epoll_create1(EPOLL_CLOEXEC);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = listener;
    epoll_ctl(epoll, EPOLL_CTL_ADD, listener, &ev);
    std::unordered_map<int, Connection> connections;
    for (;;) {
        epoll_event events[256];
        const int n = epoll_wait(epoll, events, 256, -1);
        for (int k = 0; k < n; ++k) {
            const int fd = events[k].data.fd;
            if (fd != listener) {
                if (!serve(fd, connections[fd])) {
                    connections.erase(fd);
                    ::close(fd);
                }
                continue;
            }
            for (int client; (client = ::accept4(listener, nullptr, nullptr,
                                                 SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0;) {
                ev.events = EPOLLIN;
                ev.data.fd = client;
                epoll_ctl(epoll, EPOLL_CTL_ADD, client, &ev);
            }
        }
    }
}
