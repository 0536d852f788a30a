// Arbitrary bytes as the start of a connection behind a load balancer: the PROXY header reader
// must agree with itself on every prefix, so that how the bytes arrive never matters.
#include <cstdlib>

#include <QByteArray>

#include "codec/ProxyHeader.h"
#include "tests/fuzz/FuzzQuiet.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    silenceQtMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<int>(size));
    const ProxyHeader whole = ProxyHeader::parse(bytes);
    using Status = ProxyHeader::Status;
    if (whole.status == Status::Complete) {
        if (whole.length <= 0 || whole.length > bytes.size() ||
            whole.length > ProxyHeader::kMaxLength ||
            whole.hasSource == whole.sourceAddress.isEmpty())
            std::abort();
        // The bytes after the header are the connection's own: they change nothing.
        const ProxyHeader exact = ProxyHeader::parse(bytes.left(whole.length));
        if (exact.status != Status::Complete || exact.length != whole.length ||
            exact.sourceAddress != whole.sourceAddress || exact.sourcePort != whole.sourcePort)
            std::abort();
    }
    // Every shorter prefix is a beginning that waits, or already as broken as the whole.
    const int end = whole.status == Status::Complete ? whole.length : bytes.size();
    for (int n = 0; n < end; ++n) {
        const Status prefix = ProxyHeader::parse(bytes.left(n)).status;
        if (prefix == Status::Complete) std::abort();
        if (prefix == Status::Invalid && whole.status != Status::Invalid) std::abort();
    }
    return 0;
}
