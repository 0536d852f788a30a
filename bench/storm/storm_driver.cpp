// storm_driver: a fleet reconnecting at once. N terminals connect together from many loopback
// source addresses (so one address's ephemeral ports are no limit); each sends its device
// report and reports again as soon as it is answered, R reports each. One thread and epoll, so
// the driver costs little beside the server it measures. Prints one line of figures:
//   storm: terminals=N reports=R answered=A rate=... p50_ms=... p99_ms=... last_ms=...
//          errors=E refused=F timeouts=T
// rate is answers per second from the first connect to the last answer; last_ms is when the
// last terminal got its last answer. --hold keeps the connections open that many seconds after
// the figures (idle terminals, for their cost to the server). Exit code 0 when every report was
// answered as expected.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codec/PacketFramer.h"
#include "codec/SocketPacketHandler.h"
#include "codec/TerminalPackets.h"

namespace {
struct Options {
    quint16 port = 0;
    int count = 100;
    int reports = 1;
    int sources = 0;  // 0: one address per 100 terminals
    int timeoutMs = 30000;
    int holdSecs = 0;  // stay connected this long after the figures
    QByteArray snPrefix = "STORM";
};

enum class State { Connecting, Waiting, Done, Failed };

struct Terminal {
    int fd = -1;
    QByteArray sn;
    State state = State::Connecting;
    int sent = 0;
    quint16 serial = 0;
    qint64 sentAtUs = 0;
    QByteArray out;  // the report not yet taken by the kernel
    PacketFramer framer;
};

struct Figures {
    std::vector<qint64> latenciesUs;
    qint64 lastAnswerUs = 0;
    int errors = 0;
    int refused = 0;
    int timeouts = 0;
};

qint64 nowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool parseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const QByteArray key = argv[i];
        const int value = std::atoi(argv[i + 1]);
        if (key == "--port")
            o.port = static_cast<quint16>(value);
        else if (key == "--count")
            o.count = value;
        else if (key == "--reports")
            o.reports = value;
        else if (key == "--sources")
            o.sources = value;
        else if (key == "--timeout")
            o.timeoutMs = value;
        else if (key == "--hold")
            o.holdSecs = value;
        else if (key == "--sn")
            o.snPrefix = argv[i + 1];
        else
            return false;
    }
    if (o.sources <= 0) o.sources = std::max(1, o.count / 100);
    return o.port != 0 && o.count > 0 && o.reports > 0;
}

// 127.1.x.y: far from 127.0.0.1, where the server listens, and 60,000 addresses to choose from.
in_addr_t sourceAddress(int index, int sources) {
    const int n = index % sources;
    return htonl((127u << 24) | (1u << 16) | static_cast<unsigned>((n / 250) << 8) |
                 static_cast<unsigned>(1 + n % 250));
}

class Driver {
  public:
    explicit Driver(const Options& o) : m_o(o), m_terminals(static_cast<size_t>(o.count)) {
        m_epoll = epoll_create1(EPOLL_CLOEXEC);
        m_f.latenciesUs.reserve(static_cast<size_t>(o.count) * static_cast<size_t>(o.reports));
    }
    ~Driver() {
        for (Terminal& t : m_terminals)
            if (t.fd >= 0) ::close(t.fd);
        ::close(m_epoll);
    }

    Figures run() {
        m_startUs = nowUs();
        for (int i = 0; i < m_o.count; ++i) open(i);
        while (m_open > 0) {
            epoll_event events[256];
            const int n = epoll_wait(m_epoll, events, 256, 100);
            for (int k = 0; k < n; ++k) onEvent(static_cast<int>(events[k].data.u32), events[k]);
            expire();
        }
        return m_f;
    }

    qint64 startUs() const { return m_startUs; }

  private:
    void open(int i) {
        Terminal& t = m_terminals[static_cast<size_t>(i)];
        t.sn = m_o.snPrefix + QByteArray::number(i + 1);
        t.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        ++m_open;
        if (t.fd < 0) return fail(t, m_f.refused);
        const int on = 1;
        ::setsockopt(t.fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &on, sizeof on);
        ::setsockopt(t.fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = sourceAddress(i, m_o.sources);
        sockaddr_in peer{};
        peer.sin_family = AF_INET;
        peer.sin_port = htons(m_o.port);
        peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(t.fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
            (::connect(t.fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0 &&
             errno != EINPROGRESS))
            return fail(t, m_f.refused);
        t.sentAtUs = nowUs();  // the connect counts against the first report's deadline
        watch(i, EPOLL_CTL_ADD, EPOLLOUT);
    }

    void watch(int i, int op, unsigned events) {
        epoll_event ev{};
        ev.events = events;
        ev.data.u32 = static_cast<quint32>(i);
        epoll_ctl(m_epoll, op, m_terminals[static_cast<size_t>(i)].fd, &ev);
    }

    void onEvent(int i, const epoll_event& ev) {
        Terminal& t = m_terminals[static_cast<size_t>(i)];
        if (t.state == State::Done || t.state == State::Failed) return;
        if (t.state == State::Connecting) {
            int error = 0;
            socklen_t len = sizeof error;
            ::getsockopt(t.fd, SOL_SOCKET, SO_ERROR, &error, &len);
            if (error != 0 || (ev.events & (EPOLLERR | EPOLLHUP))) return fail(t, m_f.refused);
            t.state = State::Waiting;
            watch(i, EPOLL_CTL_MOD, EPOLLIN);
            return sendReport(i);
        }
        if ((ev.events & EPOLLOUT) && !flush(i)) return;
        if (ev.events & (EPOLLIN | EPOLLERR | EPOLLHUP)) receive(i);
    }

    void sendReport(int i) {
        Terminal& t = m_terminals[static_cast<size_t>(i)];
        DeviceReport report;
        report.devSN = QString::fromLatin1(t.sn);
        report.devType = QStringLiteral("STORM");
        t.serial = static_cast<quint16>(t.serial % 65535 + 1);
        t.out = TerminalPackets::frame(code(Command::Report), t.sn, t.serial,
                                       TerminalPackets::reportBody(report, false));
        t.sentAtUs = nowUs();
        ++t.sent;
        flush(i);
    }

    // False when the terminal failed.
    bool flush(int i) {
        Terminal& t = m_terminals[static_cast<size_t>(i)];
        while (!t.out.isEmpty()) {
            const ssize_t n =
                ::send(t.fd, t.out.constData(), static_cast<size_t>(t.out.size()), MSG_NOSIGNAL);
            if (n < 0 && errno == EAGAIN) {
                watch(i, EPOLL_CTL_MOD, EPOLLIN | EPOLLOUT);
                return true;
            }
            if (n <= 0) return fail(t, m_f.refused), false;
            t.out.remove(0, static_cast<int>(n));
        }
        watch(i, EPOLL_CTL_MOD, EPOLLIN);
        return true;
    }

    void receive(int i) {
        Terminal& t = m_terminals[static_cast<size_t>(i)];
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::recv(t.fd, buffer, sizeof buffer, 0);
            if (n < 0 && errno == EAGAIN) break;
            // Closed before every report was answered: the server let the terminal down.
            if (n <= 0) return fail(t, m_f.refused);
            t.framer.append(QByteArray(buffer, static_cast<int>(n)));
        }
        for (int length; (length = t.framer.pendingPacketLength()) != 0;) {
            if (length < 0) return fail(t, m_f.errors);
            if (!answered(t, t.framer.take(length))) return fail(t, m_f.errors);
            if (t.sent == m_o.reports) {
                t.state = State::Done;
                --m_open;
                return;
            }
            sendReport(i);
            if (t.state == State::Failed) return;
        }
    }

    // The answer a terminal nobody has an upgrade for gets: its own serial number, flag 0.
    bool answered(Terminal& t, const QByteArray& packet) {
        SocketPacket header;
        quint32 flag = 1;
        QString url;
        if (SocketPacketHandler().DataParse(packet, header) != 0 ||
            header.cmd != code(Command::UpgradeAnswer) || header.serialNo != t.serial ||
            !TerminalPackets::parseUpgradeAnswer(header.data, flag, url) || flag != 0)
            return false;
        const qint64 now = nowUs();
        m_f.latenciesUs.push_back(now - t.sentAtUs);
        m_f.lastAnswerUs = now - m_startUs;
        return true;
    }

    void fail(Terminal& t, int& counter) {
        ++counter;
        t.state = State::Failed;
        --m_open;
        if (t.fd >= 0) ::close(t.fd);
        t.fd = -1;
    }

    void expire() {
        const qint64 now = nowUs();
        if (now - m_lastExpiryUs < 100000) return;
        m_lastExpiryUs = now;
        for (Terminal& t : m_terminals)
            if ((t.state == State::Waiting || t.state == State::Connecting) &&
                now - t.sentAtUs > 1000LL * m_o.timeoutMs)
                fail(t, m_f.timeouts);
    }

    const Options m_o;
    std::vector<Terminal> m_terminals;
    Figures m_f;
    int m_epoll = -1;
    int m_open = 0;
    qint64 m_startUs = 0;
    qint64 m_lastExpiryUs = 0;
};

double percentileMs(std::vector<qint64>& values, double q) {
    if (values.empty()) return 0;
    const size_t index = std::min(values.size() - 1, static_cast<size_t>(q * values.size()));
    std::nth_element(values.begin(), values.begin() + static_cast<long>(index), values.end());
    return values[index] / 1000.0;
}
}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parseOptions(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: storm_driver --port P [--count N] [--reports R] [--sources S] "
                     "[--timeout ms] [--hold s] [--sn prefix]\n");
        return 2;
    }
    Driver driver(o);
    Figures f = driver.run();
    const size_t answered = f.latenciesUs.size();
    const double seconds = f.lastAnswerUs / 1e6;
    std::printf(
        "storm: terminals=%d reports=%d answered=%zu rate=%.0f p50_ms=%.2f p99_ms=%.2f "
        "last_ms=%.0f errors=%d refused=%d timeouts=%d\n",
        o.count, o.reports, answered, seconds > 0 ? answered / seconds : 0.0,
        percentileMs(f.latenciesUs, 0.5), percentileMs(f.latenciesUs, 0.99), seconds * 1000.0,
        f.errors, f.refused, f.timeouts);
    std::fflush(stdout);
    if (o.holdSecs > 0) ::sleep(static_cast<unsigned>(o.holdSecs));
    const bool ok = answered == static_cast<size_t>(o.count) * static_cast<size_t>(o.reports);
    return ok ? 0 : 1;
}
