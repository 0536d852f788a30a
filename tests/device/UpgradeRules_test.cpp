#include "upgrade/UpgradeRules.h"

#include <sstream>

#include <gtest/gtest.h>
#include <spdlog/sinks/ostream_sink.h>
#include <QDir>
#include <QRegularExpression>

#include "core/AppDir.h"
#include "core/Logger.h"
#include "device/TcpDataMgtApi.h"
#include "tests/device/TerminalHandlerParts.h"

TEST(CompareVersion, Table) {
    struct Case {
        QString p;
        QString d;
        int expected;
    };
    const QString big = "V1." + QString(40, '9');
    const Case cases[] = {
        {"V5.3.0 build220712", "V5.3.0 build220711", 1},
        {"V5.3.0 build220711", "V5.3.0 build220711", 0},
        {"V5.3.0 build220711", "V5.3.0 build220712", 0},  // an older date is not "older"
        {"V5.3.1 build220711", "V5.3.0 build220711", 1},
        {"V5.3.0 build220711", "V5.3.1 build220101", -1},
        {"V5.10", "V5.9", 1},
        {"V5.9", "V5.10", -1},
        {"V5.3.10", "V5.3.9", 1},
        {"V5.3.0", "V5.3", 0},
        {"V5.3", "V5.3.0", 0},
        {"V5.3.1", "V5.3", 1},
        {"V5.3", "V5.3.1", -1},
        {"V5.3.1", "V5.3.0", 1},
        {"V5.3", "V5.3", 0},
        {"A5.3", "V5.3", 0},  // the leading letter is not compared
        {"V5.3.0 build220711", "", -1},
        {"", "V5.3.0 build220711", -1},
        {"", "", -1},
        // "build" on one side only: the version parts decide, the date cannot.
        {"V5.3.0 build220712", "V5.3.0", 0},
        {"V5.3.0", "V5.3.0 build220712", 0},
        {"V5.3.1", "V5.3.0 build220712", 1},
        // Dates that are no numbers count 0.
        {"V5.3.0 buildabcdef", "V5.3.0 build220711", 0},
        {"V5.3.0 build220711", "V5.3.0 buildxyzxyz", 1},
        {"V5.3.0 build22", "V5.3.0 build11", 0},  // too short to carry a date
        // Segments beyond 31 characters and beyond 64 bits.
        {"V5." + QString(40, '9'), "V5." + QString(39, '9'), 1},
        {"V5." + QString(39, '9'), "V5." + QString(40, '9'), -1},
        {"V18446744073709551617.1", "V18446744073709551615.1", 1},
        {"V1." + QString(35, '0') + "12.0", "V1.12.0", 0},
        {big + ".2", big + ".1", 1},
        {"V5.3." + QString(36, '0') + "1", "V5.3.0", 1},
        {"V5.3.1" + QString(36, '0') + "1", "V5.3.1", 1},
        {"V5.3.05", "V5.3.5", 0},
        // Against a shorter text the rest reads as a fraction, finer than a double resolves.
        {"V5.3.0" + QString(35, '0') + "1", "V5.3", 1},
        {"V5.3", "V5.3.0" + QString(35, '0') + "1", -1},
        {"V5.3.50", "V5.3", 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CompareVersion(c.p, c.d), c.expected)
            << c.p.toStdString() << " vs " << c.d.toStdString();
}

TEST(GetPackageUrl, FormsAddressAndCountsEveryUrl) {
    std::ostringstream log;
    auto logger = getLogger("TcpDataMgtApi");
    auto sink = std::make_shared<spdlog::sinks::ostream_sink_mt>(log);
    logger->sinks().push_back(sink);

    EXPECT_EQ(GetPackageUrl("/pkg/T1/a.bin", "/pkg", "10.0.0.5", 8001),
              "http://10.0.0.5:8001/KORVA/dlPackage/T1/a.bin");
    // The handler's own parameters: NetIP and HttpPort2 from config.ini, PackageDir beside it.
    const QString packageDir = applicationDirectory() + QDir::separator() + "Package";
    TerminalHandlerParts parts;
    EXPECT_EQ(parts.handler.GetPackageUrl(packageDir + "/T2/b c.bin"),
              "http://10.0.0.5:8001/KORVA/dlPackage/T2/b c.bin");
    logger->sinks().pop_back();

    const QString text = QString::fromStdString(log.str());
    const QRegularExpression line(
        QStringLiteral("TcpDataMgtApi::GetPackageUrl, 第(\\d+)设备获取升级包下载地址：(\\S+)"));
    QList<int> counters;
    for (auto it = line.globalMatch(text); it.hasNext();) counters << it.next().captured(1).toInt();
    ASSERT_EQ(counters.size(), 2) << log.str();
    EXPECT_GE(counters[0], 1);
    EXPECT_EQ(counters[1], counters[0] + 1);
    EXPECT_TRUE(text.contains("http://10.0.0.5:8001/KORVA/dlPackage/T1/a.bin"));
}

TEST(TcpDataMgtApi, CompareVersionDelegates) {
    TerminalHandlerParts parts;
    EXPECT_EQ(parts.handler.CompareVersion("V5.10", "V5.9"), 1);
    EXPECT_EQ(parts.handler.CompareVersion("", "V5.9"), -1);
}
