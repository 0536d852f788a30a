// The terminal port of the real service under load and abuse, seen from the terminals' side:
// the open-file limit, slots held by connections that never identify, a terminal that never
// reads, floods by connections that never read, and bulk uploads against the size of the logs.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>

#include "codec/TerminalPackets.h"
#include "tests/support/FakeTerminal.h"
#include "tests/support/HttpClient.h"
#include "tests/support/RawConnection.h"
#include "tests/support/ServiceProcess.h"

namespace {
constexpr int kNoUpgradeAnswer = 42 + 132;

QByteArray report(const QString& sn, quint16 serial = 1) {
    DeviceReport id;
    id.devSN = sn;
    id.devType = "NOPKG";
    return TerminalPackets::frame(0x0001, sn.toUtf8(), serial,
                                  TerminalPackets::reportBody(id, false));
}

// Reports as sn and waits for the answer.
bool answered(FakeTerminal& terminal, const QString& sn, quint16 serial = 1,
              int timeoutMs = 15000) {
    terminal.take();
    return terminal.write(report(sn, serial)) && terminal.waitForData(kNoUpgradeAnswer, timeoutMs);
}

int threadCount(const ServiceProcess& service) {
    return QDir(QStringLiteral("/proc/%1/task").arg(service.processId()))
        .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
        .size();
}

QStringList outputLines(ServiceProcess& service, const QString& containing) {
    return QString::fromUtf8(service.output()).split('\n').filter(containing);
}

// Bytes of every log the service writes as text: its console and the WFSLog files.
qint64 logBytes(ServiceProcess& service) {
    qint64 total = service.output().size();
    QDirIterator it(service.path("WFSLog"), QDir::Files);
    while (it.hasNext()) total += QFileInfo(it.next()).size();
    return total;
}

// With the open-file limit at 256 the service holds 256 - 128 = 128 terminals whatever
// MaxConnCount says: newcomers beyond are closed at once, one log line tells of the burst, and
// the process stays up serving the terminals it has, on no more threads than before them.
TEST(LinkLoad, NewcomersBeyondTheOpenFileLimitAreRefusedAndTheRestServed) {
    ServiceProcess service;
    service.setParam("MaxConnCount", 100000);
    service.setOpenFileLimit(256);
    ASSERT_TRUE(service.start());
    ASSERT_TRUE(waitUntil([&] {
        return service.output().contains("at most 128 terminal connections (MaxConnCount 100000");
    })) << service.output().toStdString();
    const int threadsAtRest = threadCount(service);

    std::vector<std::unique_ptr<FakeTerminal>> held;
    for (int i = 0; i < 128; ++i) {
        held.push_back(std::make_unique<FakeTerminal>());
        ASSERT_TRUE(held.back()->connectTo(service.tcpPort())) << i;
        ASSERT_TRUE(answered(*held.back(), QStringLiteral("LOAD-%1").arg(i))) << i;
    }
    EXPECT_EQ(threadCount(service), threadsAtRest);

    constexpr int kBurst = 40;
    std::vector<std::unique_ptr<FakeTerminal>> newcomers;
    for (int i = 0; i < kBurst; ++i) {
        newcomers.push_back(std::make_unique<FakeTerminal>());
        ASSERT_TRUE(newcomers.back()->connectTo(service.tcpPort())) << i;
        newcomers.back()->write(report(QStringLiteral("LATE-%1").arg(i)));
    }
    for (auto& newcomer : newcomers) {
        EXPECT_TRUE(newcomer->waitForDisconnect());
        EXPECT_TRUE(newcomer->received().isEmpty());
    }
    ASSERT_TRUE(service.running());
    for (int i : {0, 31, 63})
        EXPECT_TRUE(answered(*held[i], QStringLiteral("LOAD-%1").arg(i), 2)) << i;

    const QString refusal = QStringLiteral("Greater than the maximum number of connections");
    ASSERT_TRUE(waitUntil([&] { return !outputLines(service, refusal).isEmpty(); }, 15000));
    const QStringList lines = outputLines(service, refusal);
    EXPECT_EQ(lines.size(), 1) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines.first().contains(QStringLiteral("refused %1 connections").arg(kBurst)))
        << lines.first().toStdString();
}

// Connections that never send a valid device report do not keep terminals out: at the limit a
// newcomer takes the place of the longest-idle of them, and only a server full of identified
// terminals refuses one.
TEST(LinkSlots, GarbageSendersGiveWayToTerminals) {
    ServiceProcess service;
    service.setParam("MaxConnCount", 4);
    ASSERT_TRUE(service.start());
    std::vector<std::unique_ptr<FakeTerminal>> terminals;
    for (int i = 0; i < 2; ++i) {
        terminals.push_back(std::make_unique<FakeTerminal>());
        ASSERT_TRUE(terminals.back()->connectTo(service.tcpPort()));
        ASSERT_TRUE(answered(*terminals.back(), QStringLiteral("SLOT-%1").arg(i)));
    }
    QByteArray garbage = report("ATTACK");
    garbage[100] = static_cast<char>(garbage[100] ^ 0x01);  // check code no longer matches
    std::vector<std::unique_ptr<FakeTerminal>> attackers;
    for (int i = 0; i < 2; ++i) {
        attackers.push_back(std::make_unique<FakeTerminal>());
        ASSERT_TRUE(attackers.back()->connectTo(service.tcpPort()));
        ASSERT_TRUE(attackers.back()->write(garbage));
    }
    ASSERT_TRUE(waitUntil([&] {
        return httpGet(service.httpPort(), "/metrics")
            .body.contains("wayfarer_terminal_packets_refused_total{reason=\"bad_check_code\"} 2");
    }));

    for (int i = 2; i < 4; ++i) {
        terminals.push_back(std::make_unique<FakeTerminal>());
        ASSERT_TRUE(terminals.back()->connectTo(service.tcpPort()));
        EXPECT_TRUE(answered(*terminals.back(), QStringLiteral("SLOT-%1").arg(i))) << i;
        EXPECT_TRUE(attackers[static_cast<size_t>(i - 2)]->waitForDisconnect()) << i;
    }
    FakeTerminal fifth;
    ASSERT_TRUE(fifth.connectTo(service.tcpPort()));
    fifth.write(report("SLOT-5"));
    EXPECT_TRUE(fifth.waitForDisconnect());
    // Each still served: it reports again under its own serial number.
    for (size_t i = 0; i < terminals.size(); ++i)
        EXPECT_TRUE(answered(*terminals[i], QStringLiteral("SLOT-%1").arg(i), 2)) << i;
}

// A terminal that reports without ever reading its answers is closed once 256 KiB of them
// wait, with one log line, instead of growing the service for as long as it keeps sending.
TEST(LinkOutput, TerminalThatNeverReadsIsClosedAtTheOutputLimit) {
    ServiceProcess service;
    ASSERT_TRUE(service.start());
    // The kernel holds little on our side: the service has to keep what we leave unread.
    const int fd = rawConnection(service.tcpPort(), 4096, 5);
    ASSERT_GE(fd, 0);

    QByteArray batch;
    for (int i = 0; i < 100; ++i) batch += report("NOREAD", static_cast<quint16>(i + 1));
    qint64 sent = 0;
    int error = 0;
    QElapsedTimer clock;
    clock.start();
    while (error == 0 && clock.elapsed() < 60000) {
        const ssize_t n = ::send(fd, batch.constData(), batch.size(), MSG_NOSIGNAL);
        if (n < 0 && errno != EAGAIN && errno != EINTR) error = errno;
        if (n > 0) sent += n;
        // Lets the answers pile up at the service's pace rather than only in its input.
        waitUntil([] { return false; }, 5);
    }
    ::close(fd);
    EXPECT_TRUE(error == EPIPE || error == ECONNRESET) << "sent " << sent << ", errno " << error;
    EXPECT_EQ(outputLines(service, "output limit").size(), 1)
        << outputLines(service, "output limit").join('\n').toStdString();
    ASSERT_TRUE(service.running());
    FakeTerminal other;
    ASSERT_TRUE(other.connectTo(service.tcpPort()));
    EXPECT_TRUE(answered(other, "READER"));
}

// Two connections that send packets as fast as the service takes them and never read an answer
// hold no other terminal up, during the flood or right after it, and what is logged about them
// stays far below what they send: reports, and file chunks nobody asked for.
TEST(LinkFlood, TerminalsAreAnsweredWhileNonReadersFlood) {
    const QByteArray chunk = TerminalPackets::frame(
        0x0004, "FLOOD", 2,
        TerminalPackets::fileChunkBody(2, "flood.log", 1, 1, 1, 1, QByteArray(1000, 'f')));
    const struct {
        const char* name;
        QByteArray packet;
    } floods[] = {{"reports", report("FLOOD")}, {"unrequested file chunks", chunk}};
    constexpr int kFloodMs = 8000;  // long enough for a backlog that takes minutes to clear
    for (const auto& flood : floods) {
        SCOPED_TRACE(flood.name);
        ServiceProcess service;
        ASSERT_TRUE(service.start());
        FakeTerminal probe;
        ASSERT_TRUE(probe.connectTo(service.tcpPort()));
        ASSERT_TRUE(answered(probe, "PROBE"));
        const qint64 logsBefore = logBytes(service);

        QByteArray burst;
        for (int i = 0; i < 64; ++i) burst += flood.packet;
        std::atomic<bool> stop{false};
        std::atomic<qint64> sent{0};
        std::vector<std::thread> flooders;
        for (int i = 0; i < 2; ++i)
            flooders.emplace_back([&] {
                const int fd = rawConnection(service.tcpPort(), 0, 1);
                // Identified first: the flood is not closed as a silent connection.
                const QByteArray hello = report("FLOOD");
                if (fd >= 0) ::send(fd, hello.constData(), hello.size(), MSG_NOSIGNAL);
                while (fd >= 0 && !stop) {
                    const ssize_t n = ::send(fd, burst.constData(), burst.size(), MSG_NOSIGNAL);
                    if (n > 0) sent += n;
                    if (n < 0 && errno != EAGAIN && errno != EINTR) break;
                }
                if (fd >= 0) ::close(fd);
            });
        quint16 serial = 2;
        QElapsedTimer clock;
        clock.start();
        bool served = true;
        while (served && clock.elapsed() < kFloodMs)
            served = answered(probe, "PROBE", serial++, 3000);
        stop = true;
        for (std::thread& flooder : flooders) flooder.join();
        EXPECT_TRUE(served) << "unanswered during the flood after " << sent << " bytes";
        EXPECT_GT(sent, 1024 * 1024);
        // What the flood left queued is not worked through at the others' expense.
        EXPECT_TRUE(answered(probe, "PROBE", serial++, 3000));
        const qint64 logged = logBytes(service) - logsBefore;
        EXPECT_LT(logged, sent / 20) << "logged " << logged << " for " << sent;
    }
}

// A megabyte of file chunks streamed back to back costs less log than it brings: each packet
// is logged by its header and the head of its body, not by everything still unread.
TEST(LinkLogs, BulkUploadWritesLessLogThanItReads) {
    ServiceProcess service;
    ASSERT_TRUE(service.start());
    FakeTerminal terminal;
    ASSERT_TRUE(terminal.connectTo(service.tcpPort()));
    ASSERT_TRUE(answered(terminal, "BULK"));
    const qint64 before = logBytes(service);

    QByteArray stream;
    const int chunks = 1024 * 1024 / TerminalPackets::kMaxChunkData + 1;
    for (int i = 1; i <= chunks; ++i) {
        const QByteArray data(TerminalPackets::kMaxChunkData, static_cast<char>('a' + i % 26));
        stream += TerminalPackets::frame(
            0x0004, "BULK", static_cast<quint16>(i + 1),
            TerminalPackets::fileChunkBody(1, "bulk.log", static_cast<quint32>(i),
                                           static_cast<quint32>(chunks), 1, 1, data));
    }
    ASSERT_TRUE(terminal.write(stream, 30000));
    // Handled in order: once this report is answered, every chunk before it was logged.
    ASSERT_TRUE(answered(terminal, "BULK", 2));
    const qint64 written = logBytes(service) - before;
    EXPECT_LT(written, stream.size()) << "logged " << written << " for " << stream.size();
}
}  // namespace
