#pragma once

#include <cstdint>
#include <string>

#include "http/UniqueFd.h"

// The listening side both ports share: a TCP socket on address:port (IPv4; an empty address is
// every interface), close-on-exec, non-blocking and reusable at once after a restart, bound but
// not yet listening, so that the loops can be attached first. Invalid when it cannot be bound.
UniqueFd boundSocket(const std::string& address, uint16_t port);
// The port the kernel gave a socket bound to port 0.
uint16_t boundPort(int fd);
