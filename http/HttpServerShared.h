#pragma once

#include <QString>

struct evbuffer;
struct evhttp_connection;
struct evhttp_request;

// What HttpServer's request handling and its file replies share; not for use outside http/.
namespace http_detail {

// Append that survives a momentary allocation failure; after the last retry it gives up
// silently and the caller goes on.
void appendWithRetry(evbuffer* buffer, const char* data, size_t size);

// One request per connection: evhttp applies free-on-completion to outgoing connections only,
// so the reply itself announces the close (after the headers the caller added).
void closeAfterReply(evhttp_request* req);

// A HEAD request gets the headers a GET would, its Content-Length the body's, and no body:
// empties the body after counting it.
void trimForHead(evhttp_request* req, evbuffer* body);
// Sends the reply on the loop thread, announcing the close (trimmed for HEAD).
void sendReply(evhttp_request* req, int code, const char* reason, evbuffer* body);

// Frees a request whose connection is gone: evhttp hands such a request over to its user.
bool dropRequest(evhttp_request* req);

QString peerText(evhttp_connection* evcon);

}  // namespace http_detail
