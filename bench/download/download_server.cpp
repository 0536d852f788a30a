// Bench helper: the terminal download server on a port serving one file at one path, until killed.
// Usage: download_server <port> <url path> <file>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/MetricsRegistry.h"
#include "download/DownloadMetrics.h"
#include "download/EmbeddedWebServer.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <port> <url path> <file>\n", argv[0]);
        return 2;
    }
    const unsigned long port = std::strtoul(argv[1], nullptr, 10);
    MetricsRegistry registry;
    DownloadMetrics metrics(registry);
    EmbeddedWebServer server(metrics);
    const std::string path = argv[2];
    const std::string file = argv[3];
    server.setResolver([path, file](const std::string& asked, DownloadServer::Served& served) {
        if (asked != path) return DownloadServer::Lookup::NotFound;
        served.path = file;
        return DownloadServer::Lookup::Found;
    });
    if (!server.start(static_cast<uint32_t>(port))) {
        std::fprintf(stderr, "download_server: cannot listen on port %lu\n", port);
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;) pause();
}
