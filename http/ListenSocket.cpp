#include "http/ListenSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

UniqueFd boundSocket(const std::string& address, uint16_t port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.valid()) return fd;
    const int one = 1;
    setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in bound{};
    bound.sin_family = AF_INET;
    bound.sin_port = htons(port);
    bound.sin_addr.s_addr = htonl(INADDR_ANY);
    if ((!address.empty() && inet_pton(AF_INET, address.c_str(), &bound.sin_addr) != 1) ||
        ::bind(fd.get(), reinterpret_cast<sockaddr*>(&bound), sizeof(bound)) != 0)
        fd.reset();
    return fd;
}

uint16_t boundPort(int fd) {
    sockaddr_in bound{};
    socklen_t length = sizeof(bound);
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) != 0) return 0;
    return ntohs(bound.sin_port);
}
