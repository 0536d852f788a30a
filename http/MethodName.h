// A request's method as routes name it.
#pragma once

#include <QByteArray>

#include <event2/http.h>

// "GET", "POST", "PUT", "DELETE" or "PATCH"; "OTHER" for any method no route takes. HEAD is
// "GET": the GET route answers it, and the server leaves out the body.
QByteArray methodName(evhttp_cmd_type command);
