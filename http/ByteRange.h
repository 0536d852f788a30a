#pragma once

#include <cstdint>
#include <string>

// What a Range header asks of a file of a given size, as the download port and the v2 file
// replies read it. Byte ranges as HTTP defines them:
// "bytes=" then a comma list of "a-b", "a-" and "-n". A header that breaks the grammar is
// ignored, as is a list of several ranges (the whole file is a valid answer to it and
// terminals never ask for one).
struct ByteRange {
    enum Kind {
        WholeFile,      // no usable single range: 200 with the file
        Part,           // 206 with bytes first..last
        Unsatisfiable,  // 416: no range overlaps the file
    };

    static ByteRange evaluate(const std::string& header, int64_t size);

    Kind kind = WholeFile;
    int64_t first = 0;
    int64_t last = 0;
};
