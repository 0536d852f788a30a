#pragma once

#include <QString>

// The standard reading of a request's Range header against a file of size bytes: one range of
// "bytes=" is served, clamped to the file; a header the server may ignore (another unit, several
// ranges, malformed, last before first) means the whole file; a range that starts at or past the
// end (or a zero suffix) selects nothing and is answered 416.
enum class ByteRange { Whole, Partial, Unsatisfiable };
ByteRange parseByteRange(const QString& header, qint64 size, qint64& offset, qint64& length);
