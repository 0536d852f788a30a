#include <gtest/gtest.h>

#include "http/RequestHeadScanner.h"

// The scanner must read a head as evhttp does, whatever the chunking of the bytes.
TEST(RequestHeadScanner, ReadsWhatTheHeadAnnounces) {
    struct Case {
        QByteArray head;
        QByteArray method;
        qint64 length;
        bool chunked, expectsBody;
    };
    const Case cases[] = {
        {"GET / HTTP/1.1\r\nHost: x\r\n\r\n", "GET", -1, false, false},
        {"POST /u HTTP/1.1\r\ncontent-LENGTH:  42 \r\n\r\n", "POST", 42, false, true},
        {"PUT /u HTTP/1.1\nContent-Length: 7\nContent-Length: 9\n\n", "PUT", 7, false, true},
        {"POST /u HTTP/1.1\r\nTransfer-Encoding: Chunked\r\n\r\n", "POST", -1, true, true},
        {"POST /u HTTP/1.1\r\nContent-Length: 1x\r\n\r\n", "POST", -1, false, true},
        {"POST /u HTTP/1.1\r\nX-Long: " + QByteArray(5000, 'a') + "\r\nContent-Length: 3\r\n\r\n",
         "POST", 3, false, true},
    };
    for (const Case& c : cases) {
        for (const int chunk : {1, 5, 4096}) {
            SCOPED_TRACE(c.head.left(40).constData() + std::string(" chunk ") +
                         std::to_string(chunk));
            RequestHeadScanner scanner;
            const QByteArray data = c.head + "BODY";
            qsizetype used = 0;
            for (int at = 0; at < data.size() && !scanner.headDone(); at += chunk)
                used += scanner.feed(data.constData() + at, qMin(chunk, data.size() - at));
            EXPECT_TRUE(scanner.headDone());
            EXPECT_EQ(used, c.head.size());
            EXPECT_EQ(scanner.method(), c.method);
            EXPECT_EQ(scanner.contentLength(), c.length);
            EXPECT_EQ(scanner.chunked(), c.chunked);
            EXPECT_EQ(scanner.expectsBody(), c.expectsBody);
        }
    }
}
