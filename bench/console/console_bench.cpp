// The console's device page on 100000 terminals: each query shape timed three ways in one run,
// p50 and p99 of every shape.
//   api   the v2 route in process (filter, count, page, JSON), as the web server calls it;
//   http  GET /KORVA/v2/devices on the real service over loopback, a connection per request;
//   C     the same page written plainly on the sqlite3 C API (LIKE scans for the search, the
//         table's indexes), every column read as text: the reference.
// Usage: console_bench [rounds=100]   (a Release build; prints the load average before and after)
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <functional>
#include <vector>

#include <netinet/in.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <QUrlQuery>

#include "api/v2/ApiRoutes.h"
#include "core/AppDir.h"
#include "db/DbSchema.h"

namespace {
constexpr int kDevices = 100000;
// Attempts silent longer than the default 30 minutes are stalled.
const qint64 kNow = QDateTime::currentSecsSinceEpoch();

struct Shape {
    const char* name;
    QString query;      // of GET /KORVA/v2/devices
    const char* count;  // the reference's statements
    const char* page;
};

const QByteArray kStalledAttempts =
    "devSN in (select devSN from Tab_UpgradeAttempt where isCurrent=1 and completedAt=0 and "
    "(case when lastProgressAt>0 then lastProgressAt else startedAt end)<" +
    QByteArray::number(kNow - 1800) + ")";
const char* const kSearch =
    "(devSN like ?1 or LicensePlateNumber like ?1 or PhoneNumber like ?1 or devId like ?1 or "
    "devType like ?1)";

std::vector<Shape> shapes() {
    auto where = [](const QByteArray& condition) {
        return QByteArray("select count(*) from Tab_DeviceInfo where ") + condition;
    };
    static std::vector<QByteArray> keep;  // the statement texts live as long as the shapes
    auto text = [](const QByteArray& sql) {
        keep.push_back(sql);
        return keep.back().constData();
    };
    const QByteArray like = kSearch;
    return {
        {"first page, by id", "", "select count(*) from Tab_DeviceInfo",
         "select * from Tab_DeviceInfo order by id limit 50"},
        {"page at offset 90000, by serial", "sort=devSN&offset=90000",
         "select count(*) from Tab_DeviceInfo",
         "select * from Tab_DeviceInfo order by devSN,id limit 50 offset 90000"},
        {"by plate descending", "sort=LicensePlateNumber&order=desc",
         "select count(*) from Tab_DeviceInfo",
         "select * from Tab_DeviceInfo order by LicensePlateNumber desc,id desc limit 50"},
        {"by command (no index)", "sort=ConfigCmd&order=desc",
         "select count(*) from Tab_DeviceInfo",
         "select * from Tab_DeviceInfo order by ConfigCmd desc,id desc limit 50"},
        {"500 rows by last report", "sort=LastReportTime&limit=500",
         "select count(*) from Tab_DeviceInfo",
         "select * from Tab_DeviceInfo order by LastReportTime,id limit 500"},
        {"search \"C722\" (plate)", "q=C722", text(where(like)),
         text("select * from Tab_DeviceInfo where " + like + " order by id limit 50")},
        {"search \"京C\" (2 characters)", "q=京C", text(where(like)),
         text("select * from Tab_DeviceInfo where " + like + " order by id limit 50")},
        {"search \"13912\" (phone)", "q=13912", text(where(like)),
         text("select * from Tab_DeviceInfo where " + like + " order by id limit 50")},
        {"search \"SN00\" (every row)", "q=SN00", text(where(like)),
         text("select * from Tab_DeviceInfo where " + like + " order by id limit 50")},
        {"type and App version not equal", "devType=T7&AppVersionNot=V5.3.1%20build220711",
         text(where("devType='T7' and AppVersion<>'V5.3.1 build220711'")),
         "select * from Tab_DeviceInfo where devType='T7' and AppVersion<>'V5.3.1 build220711' "
         "order by id limit 50"},
        {"online, by plate", "online=true&sort=LicensePlateNumber",
         text(where("devSN in (select devSN from Tab_DevicePresence)")),
         "select * from Tab_DeviceInfo where devSN in (select devSN from Tab_DevicePresence) "
         "order by LicensePlateNumber,id limit 50"},
        {"offline", "online=false",
         text(where("devSN not in (select devSN from Tab_DevicePresence)")),
         "select * from Tab_DeviceInfo where devSN not in (select devSN from "
         "Tab_DevicePresence) order by id limit 50"},
        {"pending tasks", "pending=any",
         text(where("(isAutoUpdate<>0 or ConfigCmd<>'' or GetLogFile<>0 or GetIndexFile<>0 or "
                    "GetPrintFile<>0 or GetRunInfoFile<>0)")),
         "select * from Tab_DeviceInfo where (isAutoUpdate<>0 or ConfigCmd<>'' or GetLogFile<>0 "
         "or GetIndexFile<>0 or GetPrintFile<>0 or GetRunInfoFile<>0) order by id limit 50"},
        {"stalled upgrades", "upgradeState=stalled", text(where(kStalledAttempts)),
         text(QByteArray("select * from Tab_DeviceInfo where ") + kStalledAttempts +
              " order by id limit 50")},
    };
}

QString serial(int n) {
    return QStringLiteral("SN%1").arg(n, 7, 10, QLatin1Char('0'));
}

bool exec(sqlite3* db, const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) == SQLITE_OK) return true;
    std::fprintf(stderr, "%s: %s\n", sql, error);
    sqlite3_free(error);
    return false;
}

void bindText(sqlite3_stmt* stmt, int index, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text(stmt, index, utf8.constData(), utf8.size(), SQLITE_TRANSIENT);
}

// 100000 terminals of 20 types with plates of every province, 60 % connected, 1 % with a command,
// a few with forced upgrades and file requests, and 5000 upgrade attempts.
bool fill(const QString& path) {
    sqlite3* db = nullptr;
    if (sqlite3_open(path.toUtf8().constData(), &db) != SQLITE_OK) return false;
    const QString provinces =
        QStringLiteral("京津沪渝冀豫云辽黑湘皖鲁新苏浙赣鄂桂甘晋蒙陕吉闽贵粤青藏川宁琼");
    QRandomGenerator random(7);
    bool ok = exec(db, "begin");
    sqlite3_stmt* device = nullptr;
    sqlite3_stmt* presence = nullptr;
    sqlite3_stmt* attempt = nullptr;
    ok = ok &&
         sqlite3_prepare_v2(db,
                            "insert into Tab_DeviceInfo(devId,devSN,devType,LicensePlateNumber,"
                            "PhoneNumber,AppVersion,McuVersion,FourGVersion,GnssVersion,"
                            "SmartModule,Reserve,isAutoUpdate,ConfigCmd,UpgradeCompletionTime,"
                            "GetLogFile,GetIndexFile,GetPrintFile,GetRunInfoFile,LastReportTime)"
                            " values(?,?,?,?,?,?,?,?,?,?,'',?,?,?,?,0,0,0,?)",
                            -1, &device, nullptr) == SQLITE_OK &&
         sqlite3_prepare_v2(db,
                            "insert into Tab_DevicePresence(devSN,instance,connectedSince,"
                            "lastReport,peerAddress) values(?,'bench:1',?,?,'10.0.0.1:40000')",
                            -1, &presence, nullptr) == SQLITE_OK &&
         sqlite3_prepare_v2(db,
                            "insert into Tab_UpgradeAttempt(devSN,devType,packageId,packageName,"
                            "startedAt,lastProgress,lastProgressAt,completedAt,isCurrent) "
                            "values(?,?,1,'pkg.bin',?,?,?,?,1)",
                            -1, &attempt, nullptr) == SQLITE_OK;
    for (int n = 0; ok && n < kDevices; ++n) {
        const QString sn = serial(n);
        const QString type = QStringLiteral("T%1").arg(n % 20);
        const QString plate = QString(provinces.at(n % provinces.size())) +
                              QChar('A' + static_cast<int>(random.bounded(8))) +
                              QStringLiteral("%1").arg(random.bounded(100000), 5, 10, QChar('0'));
        const qint64 reported = kNow - random.bounded(86400 * 30);
        bindText(device, 1, QStringLiteral("ID-") + sn);
        bindText(device, 2, sn);
        bindText(device, 3, type);
        bindText(device, 4, plate);
        bindText(device, 5,
                 QStringLiteral("1%1").arg(random.bounded(1000000000), 10, 10, QChar('0')));
        bindText(
            device, 6,
            QStringLiteral("V5.3.%1 build2207%2").arg(n % 4).arg(n % 28 + 1, 2, 10, QChar('0')));
        bindText(device, 7, QStringLiteral("V2.0.%1").arg(n % 3));
        bindText(device, 8, QStringLiteral("V3.1.4"));
        bindText(device, 9, QStringLiteral("V4.1.%1").arg(n % 5));
        bindText(device, 10, QStringLiteral("V5.9.2"));
        sqlite3_bind_int(device, 11, n % 50 == 0);
        bindText(device, 12, n % 100 == 0 ? QStringLiteral("set apn=cmnet") : QString(""));
        sqlite3_bind_int64(device, 13, n % 3 == 0 ? reported - 86400 : 0);
        sqlite3_bind_int(device, 14, n % 97 == 0);
        sqlite3_bind_int64(device, 15, reported);
        ok = sqlite3_step(device) == SQLITE_DONE;
        sqlite3_reset(device);
        if (ok && n % 10 < 6) {
            bindText(presence, 1, sn);
            sqlite3_bind_int64(presence, 2, reported - 3600);
            sqlite3_bind_int64(presence, 3, reported);
            ok = sqlite3_step(presence) == SQLITE_DONE;
            sqlite3_reset(presence);
        }
        if (ok && n % 20 == 7) {
            const int kind = (n / 20) % 4;  // running, stalled, completed, completed
            bindText(attempt, 1, sn);
            bindText(attempt, 2, type);
            sqlite3_bind_int64(attempt, 3, kNow - 4000);
            sqlite3_bind_int(attempt, 4, kind >= 2 ? 100 : 40);
            sqlite3_bind_int64(attempt, 5, kind == 1 ? kNow - 3000 : kNow - 10);
            sqlite3_bind_int64(attempt, 6, kind >= 2 ? kNow - 10 : 0);
            ok = sqlite3_step(attempt) == SQLITE_DONE;
            sqlite3_reset(attempt);
        }
    }
    sqlite3_finalize(device);
    sqlite3_finalize(presence);
    sqlite3_finalize(attempt);
    ok = ok && exec(db, "commit") && exec(db, "analyze");
    sqlite3_close(db);
    return ok;
}

struct Figures {
    double p50 = 0;
    double p99 = 0;
    double cpu50 = 0;  // this thread's CPU time: what the shape costs whatever the load
};

double threadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

Figures measure(int rounds, const std::function<bool()>& once, bool& ok) {
    for (int i = 0; i < 3; ++i) ok = once() && ok;  // warm the caches
    std::vector<double> ms;
    std::vector<double> cpu;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer timer;
        const double cpuStart = threadCpuMs();
        timer.start();
        ok = once() && ok;
        ms.push_back(timer.nsecsElapsed() / 1e6);
        cpu.push_back(threadCpuMs() - cpuStart);
    }
    std::sort(ms.begin(), ms.end());
    std::sort(cpu.begin(), cpu.end());
    const size_t p99 = std::min(ms.size() - 1, static_cast<size_t>(0.99 * ms.size()));
    return {ms[ms.size() / 2], ms[p99], cpu[cpu.size() / 2]};
}

// Plain C: the count, then the page with every column read as text.
bool reference(sqlite3* db, const Shape& shape, const QByteArray& pattern, int& total) {
    sqlite3_stmt* count = nullptr;
    sqlite3_stmt* page = nullptr;
    bool ok = sqlite3_prepare_v2(db, shape.count, -1, &count, nullptr) == SQLITE_OK &&
              sqlite3_prepare_v2(db, shape.page, -1, &page, nullptr) == SQLITE_OK;
    for (sqlite3_stmt* stmt : {count, page})
        if (ok && sqlite3_bind_parameter_count(stmt) > 0)
            sqlite3_bind_text(stmt, 1, pattern.constData(), pattern.size(), SQLITE_STATIC);
    if (ok && sqlite3_step(count) == SQLITE_ROW) total = sqlite3_column_int(count, 0);
    std::size_t bytes = 0;
    while (ok && sqlite3_step(page) == SQLITE_ROW)
        for (int c = 0; c < sqlite3_column_count(page); ++c)
            bytes += static_cast<std::size_t>(sqlite3_column_bytes(page, c)) +
                     (sqlite3_column_text(page, c) ? 1 : 0);
    sqlite3_finalize(count);
    sqlite3_finalize(page);
    return ok && bytes > 0;
}

bool apiCall(const QString& query, int& total) {
    ApiRequest request;
    request.method = "GET";
    request.path = QStringLiteral("/KORVA/v2/devices");
    request.query.setQuery(query);
    request.role = Role::Admin;
    const ApiReply reply = apiRouter().dispatch(request);
    // "total" is written last: the digits after it.
    const int at = reply.body.lastIndexOf("\"total\":");
    total = 0;
    for (int i = at + 8; at >= 0 && i < reply.body.size() && isdigit(reply.body[i]); ++i)
        total = total * 10 + (reply.body[i] - '0');
    return reply.status == 200;
}

bool httpCall(quint16 port, const QString& query) {
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!socket.waitForConnected(5000)) return false;
    socket.write("GET /KORVA/v2/devices?" + QUrl::toPercentEncoding(query, "=&%") +
                 " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    QByteArray reply;
    while (socket.waitForReadyRead(10000)) reply += socket.readAll();
    reply += socket.readAll();
    return reply.startsWith("HTTP/1.1 200");
}

// Bound as the service binds (any address, no SO_REUSEADDR), so no TIME_WAIT holds the port.
quint16 freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    socklen_t length = sizeof address;
    quint16 port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

QByteArray loadAverage() {
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray("?");
}
}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(10, atoi(argv[1])) : 100;
    std::printf("load average at start: %s\n", loadAverage().constData());
    QTemporaryDir dir;
    setApplicationDirectoryForTesting(dir.path());
    const QString dbPath = dir.filePath(QStringLiteral("WFS.db"));
    QElapsedTimer clock;
    clock.start();
    if (!DbSchema::ensure() || !fill(dbPath)) {
        std::fprintf(stderr, "cannot build the database\n");
        return 1;
    }
    std::printf("%d terminals written with their search index in %.1f s, WFS.db %.1f MiB\n",
                kDevices, clock.elapsed() / 1000.0, QFile(dbPath).size() / 1048576.0);
    // A copy to study the plans with the sqlite3 tool.
    if (qEnvironmentVariableIsSet("CONSOLE_BENCH_KEEP_DB"))
        QFile::copy(dbPath, qEnvironmentVariable("CONSOLE_BENCH_KEEP_DB"));

    // The service on its own copy of the application directory, on free ports.
    QTemporaryDir serviceDir;
    QFile::copy(dbPath, serviceDir.filePath(QStringLiteral("WFS.db")));
    QFile::copy(QStringLiteral(WAYFARER_EXE), serviceDir.filePath(QStringLiteral("wayfarer")));
    QFile::setPermissions(serviceDir.filePath(QStringLiteral("wayfarer")),
                          QFile::ReadOwner | QFile::ExeOwner);
    const quint16 httpPort = freePort();
    {
        QSettings config(serviceDir.filePath(QStringLiteral("config.ini")), QSettings::IniFormat);
        config.setValue("LocalParam/HttpPort", httpPort);
        config.setValue("LocalParam/TcpPort", freePort());
        config.setValue("LocalParam/HttpPort2", freePort());
        config.setValue("LocalParam/NetIP", "127.0.0.1");
        config.setValue("LocalParam/OperatorLogin", 0);  // the page as it is served, no login
    }
    QProcess service;
    service.setWorkingDirectory(serviceDir.path());
    service.setStandardOutputFile(serviceDir.filePath(QStringLiteral("out.txt")));
    service.setProcessChannelMode(QProcess::MergedChannels);
    service.start(serviceDir.filePath(QStringLiteral("wayfarer")), QStringList());
    bool up = false;
    for (int i = 0; i < 200 && !up; ++i) {
        QThread::msleep(50);
        up = httpCall(httpPort, QStringLiteral("limit=1"));
    }
    if (!up) {
        std::fprintf(stderr, "the service did not come up\n");
        return 1;
    }

    sqlite3* raw = nullptr;
    sqlite3_open_v2(dbPath.toUtf8().constData(), &raw, SQLITE_OPEN_READONLY, nullptr);
    std::printf("\n%-34s %7s | %-25s | %-17s | %-25s\n", "shape", "total",
                "api p50 / p99 (cpu p50) ms", "http p50 / p99 ms", "C ref p50 / p99 (cpu p50)");
    bool ok = true;
    for (const Shape& shape : shapes()) {
        const QString q = QUrlQuery(shape.query).queryItemValue("q", QUrl::FullyDecoded);
        const QByteArray pattern = ("%" + q + "%").toUtf8();
        int apiTotal = -1;
        int refTotal = -2;
        const Figures api = measure(
            rounds, [&] { return apiCall(shape.query, apiTotal); }, ok);
        const Figures http = measure(
            rounds, [&] { return httpCall(httpPort, shape.query); }, ok);
        const Figures ref = measure(
            rounds, [&] { return reference(raw, shape, pattern, refTotal); }, ok);
        std::printf("%-34s %7d | %6.2f / %7.2f (%6.2f) | %6.2f / %7.2f | %6.2f / %7.2f (%6.2f)%s\n",
                    shape.name, apiTotal, api.p50, api.p99, api.cpu50, http.p50, http.p99, ref.p50,
                    ref.p99, ref.cpu50, apiTotal == refTotal ? "" : "  (totals differ)");
        std::fflush(stdout);
    }
    sqlite3_close(raw);
    service.kill();
    service.waitForFinished();
    std::printf("\nload average at end: %s (%d rounds per shape and way)\n",
                loadAverage().constData(), rounds);
    return ok ? 0 : 1;
}
