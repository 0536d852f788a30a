#pragma once

#include <cstdint>

struct evbuffer;
struct evbuffer_file_segment;

// A reply's file bytes, handed to the output buffer a piece at a time as the client takes
// them. Each piece costs the buffer a 1 KiB chain, so a whole large file added at once would
// cost a slow client kilobytes per megabyte; and on Linux libevent gives a piece to one
// sendfile call whole, which for hundreds of megabytes sends slower than short calls.
class DownloadBody {
  public:
    DownloadBody() = default;
    ~DownloadBody();
    DownloadBody(const DownloadBody&) = delete;
    DownloadBody& operator=(const DownloadBody&) = delete;

    // Takes over the segment (one reference) and its length.
    void reset(evbuffer_file_segment* segment, int64_t length);
    // Nothing left to add.
    bool done() const { return m_next >= m_length; }
    // Adds the next piece to out; false when adding failed.
    bool feed(evbuffer* out);

    static constexpr int64_t kPiece = 8 * 1024 * 1024;

  private:
    evbuffer_file_segment* m_segment = nullptr;
    int64_t m_next = 0;
    int64_t m_length = 0;
};
