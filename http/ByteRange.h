#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

    // One range as the header asks it, before it meets a file: "a-b", "a-" (last -1) or "-n"
    // (first -1, last n).
    struct Asked {
        int64_t first = -1;
        int64_t last = -1;
    };

    // The grammar alone; false, with nothing asked, for a header that breaks it.
    static bool parse(const std::string& header, std::vector<Asked>& asked);
    static ByteRange evaluate(const std::string& header, int64_t size);
    // The older reading of the management port's pages and downloads, on the same grammar:
    // blanks anywhere are dropped, the unit is exactly "bytes" and one range is accepted only
    // where it lies inside the file as asked. offset and length come in as 0 and the size; true
    // with them set to the part, false with them as the page answers it: untouched, except an
    // open range from the end and a suffix of 0 (offset the size, length 0) and a suffix beyond
    // the file (length the suffix).
    static bool pageExtent(const std::string& header, int64_t size, int64_t& offset,
                           int64_t& length);

    // Content-Range values: "bytes <first>-<last>/<size>" and, for a range past the end,
    // "bytes */<size>".
    static std::string contentRange(int64_t first, int64_t last, int64_t size);
    static std::string unsatisfied(int64_t size);

    Kind kind = WholeFile;
    int64_t first = 0;
    int64_t last = 0;
};
