#pragma once

#include <atomic>
#include <functional>

#include "http/HttpServer.h"

// An HttpServer whose handlers are set by the test; the reply helpers are made public so that
// handlers written as lambdas can use them.
class TestHttpServer : public HttpServer {
  public:
    using Handler = std::function<void(TestHttpServer&, evhttp_request*)>;

    ~TestHttpServer() override { stop(); }

    Handler onGet, onPut, onPost, onDelete, onUnknown;
    std::atomic<int> getCalls{0}, putCalls{0}, postCalls{0}, deleteCalls{0}, unknownCalls{0};

    int totalCalls() const { return getCalls + putCalls + postCalls + deleteCalls + unknownCalls; }

    using HttpServer::addHeader;
    using HttpServer::getClientAddress;
    using HttpServer::getDecodedUrl;
    using HttpServer::getRequestBody;
    using HttpServer::getRequstHeader;
    using HttpServer::getUrl;
    using HttpServer::replyClient;
    using HttpServer::sendError;
    using HttpServer::withoutRequestLock;

  protected:
    void processGetRequest(evhttp_request* req) override { run(getCalls, onGet, req); }
    void processPutRequest(evhttp_request* req) override { run(putCalls, onPut, req); }
    void processPostRequest(evhttp_request* req) override { run(postCalls, onPost, req); }
    void processDeleteRequest(evhttp_request* req) override { run(deleteCalls, onDelete, req); }
    void processUnknownRequest(evhttp_request* req) override { run(unknownCalls, onUnknown, req); }

  private:
    void run(std::atomic<int>& calls, const Handler& handler, evhttp_request* req) {
        ++calls;
        if (handler) handler(*this, req);
    }
};
