// How many device packets per second the codec cuts from a TCP byte stream and parses.
#include <benchmark/benchmark.h>
#include <QByteArray>
#include <QtGlobal>

#include "codec/PacketFramer.h"
#include "codec/SocketPacketHandler.h"
#include "codec/TerminalPackets.h"

namespace {
QByteArray makePacket(Command cmd, const QByteArray& body) {
    return TerminalPackets::frame(code(cmd), "DEV-0001", 0, body);
}

// A terminal's typical mix: reports, progress, command results and file chunks.
QByteArray mixedStream(int& packets) {
    const QByteArray mix[] = {makePacket(Command::Report, QByteArray(DeviceReport::kSize, 'r')),
                              makePacket(Command::Progress, QByteArray(4, '\0')),
                              makePacket(Command::Command, QByteArray(20, 'c')),
                              makePacket(Command::File, QByteArray(1400, 'f'))};
    QByteArray stream;
    packets = 0;
    for (int i = 0; i < 100; ++i, ++packets) stream += mix[i % 4];
    return stream;
}

void silence(QtMsgType, const QMessageLogContext&, const QString&) {}

void BM_CheckCode1400(benchmark::State& state) {
    const QByteArray bytes(1438, 'x');
    for (auto _ : state)
        benchmark::DoNotOptimize(SocketPacketHandler::CheckCode(bytes.constData(), bytes.size()));
    state.SetBytesProcessed(state.iterations() * bytes.size());
}
BENCHMARK(BM_CheckCode1400);

// The same check code a byte a step through one table, beside it: what slicing gains.
void BM_CheckCodeByteAStep1400(benchmark::State& state) {
    quint16 table[256];
    for (int i = 0; i < 256; ++i) {
        quint16 crc = static_cast<quint16>(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<quint16>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
        table[i] = crc;
    }
    const QByteArray bytes(1438, 'x');
    for (auto _ : state) {
        quint16 crc = 0;
        for (const char c : bytes)
            crc = static_cast<quint16>((crc << 8) ^ table[(crc >> 8) ^ static_cast<quint8>(c)]);
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
}
BENCHMARK(BM_CheckCodeByteAStep1400);

void BM_DataParseReport(benchmark::State& state) {
    const SocketPacketHandler handler;
    const QByteArray packet = makePacket(Command::Report, QByteArray(DeviceReport::kSize, 'r'));
    SocketPacket out;
    for (auto _ : state) benchmark::DoNotOptimize(handler.DataParse(packet, out));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DataParseReport);

void BM_ParseDeviceReport(benchmark::State& state) {
    const SocketPacketHandler handler;
    const QByteArray body(DeviceReport::kSize, 'r');
    DeviceReport out;
    for (auto _ : state) benchmark::DoNotOptimize(handler.ParseDeviceReport(body, false, out));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseDeviceReport);

// The whole receive path short of the sockets: TCP-sized chunks in, checked packets out.
void BM_CutAndParseStream(benchmark::State& state) {
    qInstallMessageHandler(silence);
    const SocketPacketHandler handler;
    int perStream = 0;
    const QByteArray stream = mixedStream(perStream);
    const int chunk = static_cast<int>(state.range(0));
    SocketPacket out;
    for (auto _ : state) {
        PacketFramer framer;
        for (int at = 0; at < stream.size(); at += chunk) {
            framer.append(stream.mid(at, chunk));
            for (int length; (length = framer.pendingPacketLength()) > 0;)
                benchmark::DoNotOptimize(handler.DataParse(framer.take(length), out));
        }
    }
    state.SetItemsProcessed(state.iterations() * perStream);
    state.SetBytesProcessed(state.iterations() * stream.size());
}
BENCHMARK(BM_CutAndParseStream)->Arg(64)->Arg(1460)->Arg(65536);
}  // namespace

BENCHMARK_MAIN();
