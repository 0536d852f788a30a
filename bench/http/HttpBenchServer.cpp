// Serves one file for every GET (besides the built-in "/test" route) until SIGINT or SIGTERM.
// Usage: http_bench_server <port> <file> [loop count]
#include <event2/http.h>
#include <signal.h>

#include <QByteArray>
#include <QFile>
#include <cstdio>
#include <cstdlib>

#include "http/HttpServer.h"

namespace {
class FileServer : public HttpServer {
  public:
    explicit FileServer(const QString& path) : m_path(path) {}
    ~FileServer() override { stop(); }

  protected:
    void processGetRequest(evhttp_request* req) override {
        QFile file(m_path);
        if (!replyClient(req, 200, "OK", file, 0, -1, false)) sendError(req, 404, "Not Found");
    }
    void processPutRequest(evhttp_request* req) override { sendError(req, 405, "Not Allowed"); }
    void processPostRequest(evhttp_request* req) override { sendError(req, 405, "Not Allowed"); }
    void processDeleteRequest(evhttp_request* req) override { sendError(req, 405, "Not Allowed"); }
    void processUnknownRequest(evhttp_request* req) override { sendError(req, 405, "Not Allowed"); }

  private:
    QString m_path;
};

// Quiet handler: the per-request debug lines would otherwise dominate the measurement.
void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: %s <port> <file> [loop count]\n", argv[0]);
        return 2;
    }
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);  // inherited by every server thread
    signal(SIGPIPE, SIG_IGN);
    if (!getenv("HTTP_BENCH_VERBOSE")) qInstallMessageHandler(quiet);

    FileServer server(QString::fromLocal8Bit(argv[2]));
    server.setThreadCount(argc > 3 ? atoi(argv[3]) : 10);
    if (!server.start("127.0.0.1", static_cast<quint16>(atoi(argv[1])))) {
        fprintf(stderr, "start failed\n");
        return 1;
    }
    printf("ready\n");
    fflush(stdout);
    int received = 0;
    sigwait(&stopSignals, &received);
    server.stop();
    return 0;
}
