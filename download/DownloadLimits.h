#pragma once

#include <cstddef>

// What one client of the download port may cost before the server gives up on it.
struct DownloadLimits {
    // The whole request head, counted from the accept: a client that trickles its headers is
    // closed as one that sends nothing.
    int headSeconds = 30;
    // Sending without any progress: a client that stopped reading.
    int sendSeconds = 30;
    // After the reply, when the client sent more than its head, the time it gets to close
    // first; closing on unread input would reset the connection and lose the reply's tail.
    int lingerSeconds = 5;
    // Terminals send a few short lines.
    size_t maxHeadBytes = 16 * 1024;
    // Out of descriptors, accepting pauses this long; the queue waits meanwhile.
    int acceptPauseMs = 500;
};
