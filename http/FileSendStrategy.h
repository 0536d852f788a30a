#pragma once

#include <QtGlobal>

// How a file reply leaves the server: a file segment sent by the event loop straight from the
// file, one reply buffered in memory, or a reply streamed in 10 MiB pieces.
enum class FileSendStrategy { Segment, Buffered, Streamed };

// Above 1.3 GiB a segment is no longer mapped in one piece, above 1.7 GiB nothing is held in
// memory at once; the limits are compared as doubles.
FileSendStrategy chooseFileSendStrategy(qint64 length, bool stream);
