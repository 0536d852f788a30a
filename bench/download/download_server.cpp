// Bench helper: the terminal download server on a port with one file bound, until killed.
// Usage: download_server <port> <url path> <file>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "download/EmbeddedWebServer.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <port> <url path> <file>\n", argv[0]);
        return 2;
    }
    const unsigned long port = std::strtoul(argv[1], nullptr, 10);
    EmbeddedWebServer* server = EmbeddedWebServer::instance();
    if (!server->start(static_cast<uint32_t>(port))) {
        std::fprintf(stderr, "download_server: cannot listen on port %lu\n", port);
        return 1;
    }
    server->bindUrl("http://127.0.0.1:" + std::to_string(port) + argv[2], argv[3]);
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;) pause();
}
