#include "http/MethodName.h"

QByteArray methodName(evhttp_cmd_type command) {
    switch (command) {
        case EVHTTP_REQ_GET:
        case EVHTTP_REQ_HEAD:
            return "GET";
        case EVHTTP_REQ_POST:
            return "POST";
        case EVHTTP_REQ_PUT:
            return "PUT";
        case EVHTTP_REQ_DELETE:
            return "DELETE";
        case EVHTTP_REQ_PATCH:
            return "PATCH";
        default:
            return "OTHER";
    }
}
