// Which address of X-Forwarded-For is the client's, given the proxies believed.
#include <gtest/gtest.h>

#include "web/ForwardedClient.h"

TEST(ForwardedClient, RightMostAddressNotAProxyFromATrustedPeerOnly) {
    const ProxyTrust proxies = ProxyTrust::parse(QStringLiteral("127.0.0.1, 10.0.0.0/8"));
    const struct {
        const char* peer;
        QByteArrayList forwardedFor;
        const char* client;
    } cases[] = {
        {"192.0.2.9", {"198.51.100.7"}, "192.0.2.9"},  // not a proxy: its header is its word
        // What the client wrote itself stays left of what the proxy appended.
        {"127.0.0.1", {"203.0.113.1, 198.51.100.7"}, "198.51.100.7"},
        {"127.0.0.1", {"203.0.113.1", " 198.51.100.7 "}, "198.51.100.7"},
        {"127.0.0.1", {"198.51.100.7, 10.1.2.3"}, "198.51.100.7"},  // two proxies deep
        {"127.0.0.1", {"10.9.9.9, 10.1.2.3"}, "10.9.9.9"},          // proxies all the way
        {"127.0.0.1", {"198.51.100.7, unknown"}, "127.0.0.1"},      // garbage from the proxy
    };
    for (const auto& c : cases)
        EXPECT_EQ(forwardedClient(QString::fromLatin1(c.peer), c.forwardedFor, proxies),
                  QString::fromLatin1(c.client))
            << c.peer << " " << c.forwardedFor.join('|').constData();
}
