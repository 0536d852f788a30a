// Device-table operations beside the same statements on the raw sqlite3 C API, in one run on
// one WFS.db of 100000 devices. The raw side keeps each statement prepared (the best plain C
// can do) and, for the lists, builds the same records, so the ratio is the cost of the layer.
#include <cstdio>
#include <map>
#include <string>

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <QCoreApplication>
#include <QList>
#include <QTemporaryDir>
#include <QVariant>

#include "core/AppDir.h"
#include "db/DbSchema.h"
#include "db/PooledConnection.h"
#include "db/SQLiteDb.h"
#include "db/Tab_DeviceInfo.h"

namespace {
constexpr int kDevices = 100000;

const char* const kInsert =
    "insert into "
    "Tab_DeviceInfo(devId,devSN,devType,LicensePlateNumber,PhoneNumber,AppVersion,McuVersion,"
    "FourGVersion,GnssVersion,SmartModule,Reserve,isAutoUpdate,ConfigCmd,UpgradeCompletionTime,"
    "GetLogFile,GetIndexFile,GetPrintFile,GetRunInfoFile)"
    " values(:devId,:devSN,:devType,:LicensePlateNumber,:PhoneNumber,:AppVersion,:McuVersion,"
    ":FourGVersion,:GnssVersion,:SmartModule,:Reserve,:isAutoUpdate,:ConfigCmd,"
    ":UpgradeCompletionTime,:GetLogFile,:GetIndexFile,:GetPrintFile,:GetRunInfoFile)";
const char* const kUpdate =
    "update Tab_DeviceInfo set devId=:devId,devType=:devType,"
    "LicensePlateNumber=:LicensePlateNumber,PhoneNumber=:PhoneNumber,AppVersion=:AppVersion,"
    "McuVersion=:McuVersion,FourGVersion=:FourGVersion,GnssVersion=:GnssVersion,"
    "SmartModule=:SmartModule,Reserve=:Reserve,isAutoUpdate=:isAutoUpdate,ConfigCmd=:ConfigCmd,"
    "UpgradeCompletionTime=:UpgradeCompletionTime,GetLogFile=:GetLogFile,"
    "GetIndexFile=:GetIndexFile,GetPrintFile=:GetPrintFile,GetRunInfoFile=:GetRunInfoFile "
    "where devSN=:devSN";
const char* const kSelect = "select * from Tab_DeviceInfo where devSN=:devSN";
const char* const kList = "select rowid as row_num,* from Tab_DeviceInfo";

sqlite3* g_raw = nullptr;

QString serial(int n) {
    return QStringLiteral("SN%1").arg(n, 7, 10, QLatin1Char('0'));
}

struDeviceInfo makeDevice(const QString& sn, int n) {
    struDeviceInfo d;
    d.devId = QStringLiteral("ID-") + sn;
    d.devSN = sn;
    d.devType = QStringLiteral("T100");
    d.LicensePlateNumber = QStringLiteral("A-%1").arg(n);
    d.PhoneNumber = QStringLiteral("138%1").arg(n, 8, 10, QLatin1Char('0'));
    d.AppVersion = QStringLiteral("1.0.%1").arg(n % 100);
    d.McuVersion = QStringLiteral("2.0.1");
    d.FourGVersion = QStringLiteral("3.1.4");
    d.GnssVersion = QStringLiteral("4.1.5");
    d.SmartModule = QStringLiteral("5.9.2");
    d.Reserve = QStringLiteral("r");
    d.ConfigCmd = QStringLiteral(" set apn ");
    d.UpgradeCompletionTime = 1700000000 + n;
    d.GetLogFile = n % 2;
    return d;
}

sqlite3_stmt* prepare(const char* sql) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(g_raw, sql, -1, &stmt, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "prepare failed: %s\n", sqlite3_errmsg(g_raw));
        std::abort();
    }
    return stmt;
}

void bindText(sqlite3_stmt* stmt, const char* name, const QString& value) {
    const QByteArray utf8 = value.toUtf8();
    sqlite3_bind_text(stmt, sqlite3_bind_parameter_index(stmt, name), utf8.constData(), utf8.size(),
                      SQLITE_TRANSIENT);
}

void bindInt(sqlite3_stmt* stmt, const char* name, int value) {
    sqlite3_bind_int(stmt, sqlite3_bind_parameter_index(stmt, name), value);
}

void bindDevice(sqlite3_stmt* stmt, const struDeviceInfo& d) {
    bindText(stmt, ":devId", d.devId);
    bindText(stmt, ":devSN", d.devSN);
    bindText(stmt, ":devType", d.devType);
    bindText(stmt, ":LicensePlateNumber", d.LicensePlateNumber);
    bindText(stmt, ":PhoneNumber", d.PhoneNumber);
    bindText(stmt, ":AppVersion", d.AppVersion);
    bindText(stmt, ":McuVersion", d.McuVersion);
    bindText(stmt, ":FourGVersion", d.FourGVersion);
    bindText(stmt, ":GnssVersion", d.GnssVersion);
    bindText(stmt, ":SmartModule", d.SmartModule);
    bindText(stmt, ":Reserve", d.Reserve);
    bindInt(stmt, ":isAutoUpdate", d.isAutoUpdate);
    bindText(stmt, ":ConfigCmd", d.ConfigCmd);
    bindInt(stmt, ":UpgradeCompletionTime", d.UpgradeCompletionTime);
    bindInt(stmt, ":GetLogFile", d.GetLogFile);
    bindInt(stmt, ":GetIndexFile", d.GetIndexFile);
    bindInt(stmt, ":GetPrintFile", d.GetPrintFile);
    bindInt(stmt, ":GetRunInfoFile", d.GetRunInfoFile);
}

bool stepWrite(sqlite3_stmt* stmt) {
    const bool ok = sqlite3_step(stmt) == SQLITE_DONE && sqlite3_changes(g_raw) > 0;
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    return ok;
}

// Column positions by name, as the table class reads them.
struct RawColumns {
    explicit RawColumns(sqlite3_stmt* stmt) {
        for (int i = 0; i < sqlite3_column_count(stmt); ++i)
            index[sqlite3_column_name(stmt, i)] = i;
    }
    int operator[](const char* name) const { return index.at(name); }
    std::map<std::string, int> index;
};

QString text(sqlite3_stmt* stmt, int column) {
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, column)),
                             sqlite3_column_bytes(stmt, column));
}

void readDevice(sqlite3_stmt* s, const RawColumns& c, struDeviceInfo& d) {
    d.id = sqlite3_column_int(s, c["id"]);
    d.devId = text(s, c["devId"]);
    d.devSN = text(s, c["devSN"]);
    d.devType = text(s, c["devType"]);
    d.LicensePlateNumber = text(s, c["LicensePlateNumber"]);
    d.PhoneNumber = text(s, c["PhoneNumber"]);
    d.AppVersion = text(s, c["AppVersion"]);
    d.McuVersion = text(s, c["McuVersion"]);
    d.FourGVersion = text(s, c["FourGVersion"]);
    d.GnssVersion = text(s, c["GnssVersion"]);
    d.SmartModule = text(s, c["SmartModule"]);
    d.Reserve = text(s, c["Reserve"]);
    d.isAutoUpdate = sqlite3_column_int(s, c["isAutoUpdate"]) != 0;
    d.ConfigCmd = text(s, c["ConfigCmd"]);
    d.UpgradeCompletionTime = sqlite3_column_int(s, c["UpgradeCompletionTime"]);
    d.GetLogFile = sqlite3_column_int(s, c["GetLogFile"]) != 0;
    d.GetIndexFile = sqlite3_column_int(s, c["GetIndexFile"]) != 0;
    d.GetPrintFile = sqlite3_column_int(s, c["GetPrintFile"]) != 0;
    d.GetRunInfoFile = sqlite3_column_int(s, c["GetRunInfoFile"]) != 0;
}

// Spread the single-row operations over the whole table.
int pick(int64_t i) {
    return static_cast<int>((i * 7919) % kDevices);
}

void Tab_insertDevice(benchmark::State& state) {
    Tab_DeviceInfo table;
    static int next = 0;
    for (auto _ : state) {
        const int n = next++;
        if (!table.insertDevice(makeDevice(QStringLiteral("TAB%1").arg(n), n)))
            state.SkipWithError("insert failed");
    }
}

void Raw_insertDevice(benchmark::State& state) {
    sqlite3_stmt* stmt = prepare(kInsert);
    static int next = 0;
    for (auto _ : state) {
        const int n = next++;
        bindDevice(stmt, makeDevice(QStringLiteral("RAW%1").arg(n), n));
        if (!stepWrite(stmt)) state.SkipWithError("insert failed");
    }
    sqlite3_finalize(stmt);
}

void Tab_updateDevice(benchmark::State& state) {
    Tab_DeviceInfo table;
    int64_t i = 0;
    for (auto _ : state) {
        const int n = pick(i++);
        if (!table.updateDevice(makeDevice(serial(n), n))) state.SkipWithError("update failed");
    }
}

void Raw_updateDevice(benchmark::State& state) {
    sqlite3_stmt* stmt = prepare(kUpdate);
    int64_t i = 0;
    for (auto _ : state) {
        const int n = pick(i++);
        bindDevice(stmt, makeDevice(serial(n), n));
        if (!stepWrite(stmt)) state.SkipWithError("update failed");
    }
    sqlite3_finalize(stmt);
}

void Tab_getDeviceBySN(benchmark::State& state) {
    Tab_DeviceInfo table;
    int64_t i = 0;
    for (auto _ : state) {
        struDeviceInfo device;
        if (table.getDeviceBySN(device, serial(pick(i++))) != Tab_DeviceInfo::RowState::Found)
            state.SkipWithError("not found");
        benchmark::DoNotOptimize(device);
    }
}

void Raw_getDeviceBySN(benchmark::State& state) {
    sqlite3_stmt* stmt = prepare(kSelect);
    const RawColumns columns(stmt);
    int64_t i = 0;
    for (auto _ : state) {
        struDeviceInfo device;
        bindText(stmt, ":devSN", serial(pick(i++)));
        if (sqlite3_step(stmt) == SQLITE_ROW)
            readDevice(stmt, columns, device);
        else
            state.SkipWithError("not found");
        sqlite3_reset(stmt);
        benchmark::DoNotOptimize(device);
    }
    sqlite3_finalize(stmt);
}

void Tab_getAllDevices(benchmark::State& state) {
    Tab_DeviceInfo table;
    for (auto _ : state) {
        QList<struDeviceInfo> devices;
        if (!table.getAllDevices(devices)) state.SkipWithError("list failed");
        state.counters["rows"] = devices.size();
    }
}

void Raw_getAllDevices(benchmark::State& state) {
    sqlite3_stmt* stmt = prepare(kList);
    const RawColumns columns(stmt);
    const int rowNum = columns["row_num"];
    for (auto _ : state) {
        QList<struDeviceInfo> devices;
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            struDeviceInfo device;
            device.row_num = sqlite3_column_int(stmt, rowNum);
            readDevice(stmt, columns, device);
            device.ConfigCmd = device.ConfigCmd.trimmed();
            devices.append(device);
        }
        sqlite3_reset(stmt);
        state.counters["rows"] = devices.size();
    }
    sqlite3_finalize(stmt);
}

// The pool's share of every operation: one borrow and give-back.
void Pool_borrow(benchmark::State& state) {
    for (auto _ : state) {
        PooledConnection connection;
        benchmark::DoNotOptimize(connection.isUsable());
    }
}

// Qt's share of a lookup: the same statement, kept prepared, through QSqlQuery alone.
void Qt_getDeviceBySN(benchmark::State& state) {
    PooledConnection connection;
    QSqlQuery& query = connection.prepare(QString::fromLatin1(kSelect));
    int64_t i = 0;
    for (auto _ : state) {
        query.bindValue(QStringLiteral(":devSN"), serial(pick(i++)));
        if (!query.exec() || !query.next()) state.SkipWithError("not found");
        benchmark::DoNotOptimize(query.value(3));
        query.finish();
    }
}

// The lists run first, over exactly 100000 rows; the inserts last, as they grow the table.
#define DB_BENCHMARK(name, unit) \
    BENCHMARK(name)->Unit(benchmark::unit)->Repetitions(5)->DisplayAggregatesOnly(true)
DB_BENCHMARK(Pool_borrow, kMicrosecond);
DB_BENCHMARK(Qt_getDeviceBySN, kMicrosecond);
DB_BENCHMARK(Tab_getAllDevices, kMillisecond);
DB_BENCHMARK(Raw_getAllDevices, kMillisecond);
DB_BENCHMARK(Tab_getDeviceBySN, kMicrosecond);
DB_BENCHMARK(Raw_getDeviceBySN, kMicrosecond);
DB_BENCHMARK(Tab_updateDevice, kMicrosecond);
DB_BENCHMARK(Raw_updateDevice, kMicrosecond);
DB_BENCHMARK(Tab_insertDevice, kMicrosecond);
DB_BENCHMARK(Raw_insertDevice, kMicrosecond);

// Keeps each benchmark's median CPU time per iteration for the ratio table. CPU time, as the
// build host is shared and wall time there mostly measures the neighbours.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (!run.error_occurred && run.run_type == Run::RT_Aggregate &&
                run.aggregate_name == "median")
                seconds[run.run_name.function_name] =
                    run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
    }
    std::map<std::string, double> seconds;
};

bool populate() {
    if (sqlite3_exec(g_raw, "begin", nullptr, nullptr, nullptr) != SQLITE_OK) return false;
    sqlite3_stmt* stmt = prepare(kInsert);
    for (int n = 0; n < kDevices; ++n) {
        bindDevice(stmt, makeDevice(serial(n), n));
        if (!stepWrite(stmt)) return false;
    }
    sqlite3_finalize(stmt);
    return sqlite3_exec(g_raw, "commit", nullptr, nullptr, nullptr) == SQLITE_OK;
}
}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    setApplicationDirectoryForTesting(dir.path());
    if (!DbSchema::ensure()) return 1;
    const QByteArray path = SQLiteDb::instance()->databasePath().toUtf8();
    // The raw connection gets the settings every pooled connection has.
    if (sqlite3_open(path.constData(), &g_raw) != SQLITE_OK) return 1;
    sqlite3_busy_timeout(g_raw, 5000);
    sqlite3_exec(g_raw, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    sqlite3_exec(g_raw, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
    if (!populate()) return 1;

    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf(
        "\nTab_DeviceInfo / raw sqlite3 (median CPU time; target: 1.5 single row, 2.0 full "
        "list)\n");
    for (const char* op : {"insertDevice", "updateDevice", "getDeviceBySN", "getAllDevices"}) {
        const auto tab = reporter.seconds.find(std::string("Tab_") + op);
        const auto raw = reporter.seconds.find(std::string("Raw_") + op);
        if (tab == reporter.seconds.end() || raw == reporter.seconds.end()) continue;
        std::printf("  %-14s %8.2f us vs %8.2f us  ratio %.2f\n", op, tab->second * 1e6,
                    raw->second * 1e6, tab->second / raw->second);
    }
    benchmark::Shutdown();
    sqlite3_close(g_raw);
    return 0;
}
