// Bench client: a fleet of terminals on slow links downloading one package at once, with
// clients that trickle their request heads alongside, on one thread (epoll for connecting and
// for the slow clients, a 100 ms tick that reads each download at its link's rate).
//
// Usage: fleet_client --port P --path URL_PATH --size BYTES [--clients 5000] [--rate 200000]
//                     [--slow 400] [--ramp-ms 500] [--stall-s 60] [--verify FILE]
// The body is discarded in the kernel (MSG_TRUNC) except for every 100th download when
// --verify names the served file: those are compared byte for byte.
// Prints one line of key=value figures on stdout; progress goes to stderr.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point from, Clock::time_point to = Clock::now()) {
    return std::chrono::duration<double>(to - from).count();
}

struct Options {
    int port = 0;
    std::string path;
    long long size = 0;
    int clients = 5000;
    double rate = 200000;  // bytes per second and client
    int slow = 400;
    int rampMs = 500;
    int stallSeconds = 60;
    std::string verify;
};

enum class State { Connecting, Head, Body, Done, Failed };

struct Download {
    int fd = -1;
    State state = State::Connecting;
    Clock::time_point started;
    Clock::time_point firstByte;
    Clock::time_point finished;
    Clock::time_point lastProgress;
    std::string head;
    long long expected = -1;
    long long received = 0;
    double allowance = 0;
    bool verify = false;
    bool mismatch = false;
};

struct Slow {
    int fd = -1;
    Clock::time_point opened;
    size_t sent = 0;
    bool answered = false;
};

int connectTo(int port, int receiveBuffer) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (receiveBuffer > 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(receiveBuffer));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 &&
        errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    return fd;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(p * (values.size() - 1))];
}

class Fleet {
  public:
    explicit Fleet(const Options& options) : m_o(options) {
        m_request = "GET " + m_o.path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: fleet\r\n\r\n";
        m_slowHead = "GET " + m_o.path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ";
        m_epoll = epoll_create1(EPOLL_CLOEXEC);
        if (!m_o.verify.empty()) {
            const int fd = ::open(m_o.verify.c_str(), O_RDONLY);
            struct stat st;
            if (fd >= 0 && fstat(fd, &st) == 0 && st.st_size == m_o.size)
                m_file = static_cast<const char*>(
                    mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_SHARED, fd, 0));
            if (fd >= 0) ::close(fd);
        }
    }

    int run() {
        m_downloads.resize(static_cast<size_t>(m_o.clients));
        m_slow.resize(static_cast<size_t>(m_o.slow));
        const Clock::time_point begin = Clock::now();
        for (size_t i = 0; i < m_slow.size(); ++i) openSlow(i);

        // The slow clients are in place before the fleet arrives.
        m_start = begin + std::chrono::seconds(1);
        size_t launched = 0;
        Clock::time_point lastTick = Clock::now();
        Clock::time_point lastTrickle = lastTick;
        Clock::time_point lastReport = lastTick;
        epoll_event events[1024];
        while (m_open > 0 || launched < m_downloads.size()) {
            const Clock::time_point now = Clock::now();
            // Terminals connect in a burst spread over the ramp.
            if (now >= m_start && launched < m_downloads.size()) {
                const double rampPart =
                    m_o.rampMs > 0 ? secondsSince(m_start, now) * 1000.0 / m_o.rampMs : 1.0;
                const size_t due =
                    std::min(m_downloads.size(),
                             static_cast<size_t>(std::max(1.0, rampPart * m_downloads.size())));
                while (launched < due) launch(launched++, now);
            }
            const int n = epoll_wait(m_epoll, events, 1024, 10);
            for (int i = 0; i < n; ++i) handle(events[i]);
            const Clock::time_point after = Clock::now();
            if (secondsSince(lastTick, after) >= 0.1) {
                tick(secondsSince(lastTick, after), after);
                lastTick = after;
            }
            if (secondsSince(lastTrickle, after) >= 1.0) {
                trickle(after);
                lastTrickle = after;
            }
            if (secondsSince(lastReport, after) >= 10.0) {
                std::fprintf(stderr, "[fleet] %.0f s: %d done, %d failed, %d open, slow open %d\n",
                             secondsSince(m_start, after), m_done, m_failed, m_open, m_slowOpen);
                lastReport = after;
            }
        }
        report();
        return 0;
    }

  private:
    void launch(size_t index, Clock::time_point now) {
        Download& d = m_downloads[index];
        d.started = now;
        d.lastProgress = now;
        d.verify = m_file && index % 100 == 0;
        // A cellular terminal's small window; also keeps 5000 sockets' kernel memory bounded.
        d.fd = connectTo(m_o.port, 64 * 1024);
        if (d.fd < 0) {
            fail(d, now);
            return;
        }
        ++m_open;
        epoll_event event{};
        event.events = EPOLLOUT;
        event.data.u64 = index;
        epoll_ctl(m_epoll, EPOLL_CTL_ADD, d.fd, &event);
    }

    static constexpr uint64_t kSlowTag = 1ull << 62;

    void openSlow(size_t index) {
        Slow& s = m_slow[index];
        s = Slow();
        s.fd = connectTo(m_o.port, 0);
        s.opened = Clock::now();
        if (s.fd < 0) return;
        ++m_slowOpen;
        m_slowOpenMax = std::max(m_slowOpenMax, m_slowOpen);
        epoll_event event{};
        event.events = EPOLLIN | EPOLLRDHUP;
        event.data.u64 = kSlowTag | index;
        epoll_ctl(m_epoll, EPOLL_CTL_ADD, s.fd, &event);
    }

    void handle(const epoll_event& event) {
        if (event.data.u64 & kSlowTag) {
            slowClosed(event.data.u64 & ~kSlowTag);
            return;
        }
        Download& d = m_downloads[event.data.u64];
        const Clock::time_point now = Clock::now();
        int error = 0;
        socklen_t length = sizeof(error);
        getsockopt(d.fd, SOL_SOCKET, SO_ERROR, &error, &length);
        // Connected: the request goes out at once; from then on the tick reads it.
        if (error != 0 || ::send(d.fd, m_request.data(), m_request.size(), MSG_NOSIGNAL) !=
                              static_cast<ssize_t>(m_request.size())) {
            fail(d, now);
            return;
        }
        epoll_ctl(m_epoll, EPOLL_CTL_DEL, d.fd, nullptr);
        d.state = State::Head;
        d.lastProgress = now;
        m_reading.push_back(static_cast<size_t>(event.data.u64));
    }

    void slowClosed(size_t index) {
        Slow& s = m_slow[index];
        char buffer[4096];
        const ssize_t got = ::recv(s.fd, buffer, sizeof(buffer), MSG_DONTWAIT);
        if (got > 0) {
            s.answered = true;
            return;  // read the rest until the close
        }
        if (got < 0 && errno == EAGAIN) return;
        m_slowLifetimes.push_back(secondsSince(s.opened));
        if (s.answered) ++m_slowAnswered;
        ::close(s.fd);
        --m_slowOpen;
        ++m_slowClosed;
        // Another takes its place while the fleet downloads.
        if (m_done + m_failed < m_o.clients)
            openSlow(index);
        else
            s.fd = -1;
    }

    void trickle(Clock::time_point now) {
        for (Slow& s : m_slow) {
            if (s.fd < 0) continue;
            const char byte = s.sent < m_slowHead.size() ? m_slowHead[s.sent] : 'a';
            if (::send(s.fd, &byte, 1, MSG_NOSIGNAL | MSG_DONTWAIT) == 1) ++s.sent;
        }
        // Once the fleet is through, the slow ones go too.
        if (m_done + m_failed >= m_o.clients) {
            for (Slow& s : m_slow) {
                if (s.fd < 0) continue;
                ::close(s.fd);
                s.fd = -1;
                --m_slowOpen;
            }
        }
        (void)now;
    }

    void tick(double elapsed, Clock::time_point now) {
        const double burst = m_o.rate * 0.2;
        size_t kept = 0;
        for (size_t i = 0; i < m_reading.size(); ++i) {
            Download& d = m_downloads[m_reading[i]];
            d.allowance = std::min(burst, d.allowance + m_o.rate * elapsed);
            read(d, now);
            if (d.state == State::Head || d.state == State::Body) m_reading[kept++] = m_reading[i];
        }
        m_reading.resize(kept);
    }

    void read(Download& d, Clock::time_point now) {
        char buffer[65536];
        while (d.allowance >= 1 && (d.state == State::Head || d.state == State::Body)) {
            const size_t want = std::min<size_t>(sizeof(buffer), static_cast<size_t>(d.allowance));
            const bool copy = d.state == State::Head || d.verify;
            const ssize_t got =
                ::recv(d.fd, copy ? buffer : nullptr, want, MSG_DONTWAIT | (copy ? 0 : MSG_TRUNC));
            if (got < 0 && (errno == EAGAIN || errno == EINTR)) break;
            if (got <= 0) {  // closed before the whole body
                fail(d, now);
                return;
            }
            d.allowance -= static_cast<double>(got);
            d.lastProgress = now;
            if (d.state == State::Head) {
                d.head.append(buffer, static_cast<size_t>(got));
                const size_t end = d.head.find("\r\n\r\n");
                if (end == std::string::npos) continue;
                d.firstByte = now;
                const long long bodyBytes = static_cast<long long>(d.head.size() - end - 4);
                if (d.head.compare(0, 12, "HTTP/1.1 200") != 0 &&
                    d.head.compare(0, 12, "HTTP/1.0 200") != 0) {
                    fail(d, now);
                    return;
                }
                d.expected = m_o.size;
                d.state = State::Body;
                if (d.verify) compare(d, d.head.data() + end + 4, bodyBytes);
                d.received = bodyBytes;
                d.head.clear();
                d.head.shrink_to_fit();
            } else {
                if (d.verify) compare(d, buffer, got);
                d.received += got;
            }
            if (d.state == State::Body && d.received >= d.expected) {
                finish(d, now);
                return;
            }
        }
        if (secondsSince(d.lastProgress, now) > m_o.stallSeconds) fail(d, now);
    }

    void compare(Download& d, const char* data, long long size) {
        if (size > 0 && (d.received + size > m_o.size ||
                         std::memcmp(m_file + d.received, data, static_cast<size_t>(size)) != 0))
            d.mismatch = true;
    }

    void finish(Download& d, Clock::time_point now) {
        d.state = d.received == d.expected && !d.mismatch ? State::Done : State::Failed;
        d.finished = now;
        ::close(d.fd);
        d.fd = -1;
        --m_open;
        if (d.state == State::Done) {
            ++m_done;
            m_last = now;
        } else {
            ++m_failed;
            if (d.mismatch) ++m_mismatched;
        }
    }

    void fail(Download& d, Clock::time_point now) {
        if (d.fd >= 0) {
            epoll_ctl(m_epoll, EPOLL_CTL_DEL, d.fd, nullptr);
            ::close(d.fd);
            d.fd = -1;
            --m_open;
        }
        d.state = State::Failed;
        d.finished = now;
        ++m_failed;
    }

    void report() {
        std::vector<double> times;
        std::vector<double> firstBytes;
        for (const Download& d : m_downloads) {
            if (d.state != State::Done) continue;
            times.push_back(secondsSince(d.started, d.finished));
            firstBytes.push_back(secondsSince(d.started, d.firstByte));
        }
        // The client's own CPU: when it nears the wall time, the client set the pace.
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        std::printf(
            "clients=%d completed=%d failed=%d mismatched=%d fleet_s=%.1f "
            "time_p50_s=%.1f time_p90_s=%.1f time_max_s=%.1f first_byte_p50_s=%.3f "
            "first_byte_p99_s=%.3f first_byte_max_s=%.3f slow=%d slow_open_max=%d "
            "slow_closed=%d slow_answered=%d slow_life_p50_s=%.1f slow_life_max_s=%.1f "
            "client_cpu_s=%.1f\n",
            m_o.clients, m_done, m_failed, m_mismatched,
            m_done ? secondsSince(m_start, m_last) : 0.0, percentile(times, 0.5),
            percentile(times, 0.9), percentile(times, 1.0), percentile(firstBytes, 0.5),
            percentile(firstBytes, 0.99), percentile(firstBytes, 1.0), m_o.slow, m_slowOpenMax,
            m_slowClosed, m_slowAnswered, percentile(m_slowLifetimes, 0.5),
            percentile(m_slowLifetimes, 1.0), cpu);
        std::fflush(stdout);
    }

    const Options m_o;
    std::string m_request;
    std::string m_slowHead;
    int m_epoll = -1;
    const char* m_file = nullptr;
    std::vector<Download> m_downloads;
    std::vector<size_t> m_reading;
    std::vector<Slow> m_slow;
    std::vector<double> m_slowLifetimes;
    Clock::time_point m_start;
    Clock::time_point m_last;
    int m_open = 0;
    int m_done = 0;
    int m_failed = 0;
    int m_mismatched = 0;
    int m_slowOpen = 0;
    int m_slowOpenMax = 0;
    int m_slowClosed = 0;
    int m_slowAnswered = 0;
};

}  // namespace

int main(int argc, char** argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const char* value = argv[i + 1];
        if (key == "--port") {
            o.port = std::atoi(value);
        } else if (key == "--path") {
            o.path = value;
        } else if (key == "--size") {
            o.size = std::atoll(value);
        } else if (key == "--clients") {
            o.clients = std::atoi(value);
        } else if (key == "--rate") {
            o.rate = std::atof(value);
        } else if (key == "--slow") {
            o.slow = std::atoi(value);
        } else if (key == "--ramp-ms") {
            o.rampMs = std::atoi(value);
        } else if (key == "--stall-s") {
            o.stallSeconds = std::atoi(value);
        } else if (key == "--verify") {
            o.verify = value;
        } else {
            std::fprintf(stderr, "fleet_client: unknown option %s\n", key.c_str());
            return 2;
        }
    }
    if (o.port <= 0 || o.path.empty() || o.size <= 0) {
        std::fprintf(stderr,
                     "usage: %s --port P --path URL_PATH --size BYTES [--clients N] [--rate B/s] "
                     "[--slow N] [--ramp-ms MS] [--stall-s S] [--verify FILE]\n",
                     argv[0]);
        return 2;
    }
    return Fleet(o).run();
}
