#include <gtest/gtest.h>
#include <QFile>
#include <QHostInfo>
#include <QSettings>
#include <QTemporaryDir>

#include "core/LocalParaMgt.h"

namespace {
class LocalParaMgtTest : public ::testing::Test {
  protected:
    QString configPath() const { return dir.filePath("config.ini"); }
    void writeKeys(const QList<QPair<QString, QVariant>>& keys) {
        QSettings settings(configPath(), QSettings::IniFormat);
        for (const auto& kv : keys) settings.setValue("LocalParam/" + kv.first, kv.second);
    }
    struLocalParam read() {
        struLocalParam param;
        mgt.readLocalParam(param);
        return param;
    }

    QTemporaryDir dir;
    LocalParaMgt mgt{dir.path()};
};

TEST_F(LocalParaMgtTest, MissingFileGivesDefaultsAndFixedDirectories) {
    const struLocalParam p = read();
    EXPECT_EQ(p.TcpPort, 10022);
    EXPECT_EQ(p.HttpPort, 80);
    EXPECT_EQ(p.HttpPort2, 8001);
    EXPECT_EQ(p.MaxConnCount, 50);
    EXPECT_EQ(p.HttpRecvTimeOut, 600u);
    EXPECT_EQ(p.HttpSendTimeOut, 600u);
    EXPECT_EQ(p.ManualMode, 0u);
    EXPECT_EQ(p.DeviceFileQuotaMiB, 64u);
    EXPECT_EQ(p.TcpListenAddress, "0.0.0.0");
    EXPECT_EQ(p.HttpListenAddress2, "0.0.0.0");
    EXPECT_EQ(p.DrainSeconds, 0);
    EXPECT_EQ(p.NetIP, LocalParaMgt::localIPv4());
    EXPECT_EQ(p.ExcelDir, dir.path() + "/Excel");
    EXPECT_EQ(p.PackageDir, dir.path() + "/Package");
    EXPECT_EQ(p.DevLogDir, dir.path() + "/DevLog");
    EXPECT_EQ(p.DevIndexDir, dir.path() + "/DevIndex");
    EXPECT_EQ(p.PrintDir, dir.path() + "/Print");
    EXPECT_EQ(p.RunInfoDir, dir.path() + "/RunInfo");
}

TEST_F(LocalParaMgtTest, TimeOutsOutsideTheirRangeFallBackTo600) {
    const struct {
        QVariant value;
        quint32 expected;
    } cases[] = {{59, 600}, {60, 60}, {3600, 3600}, {3601, 600}, {-5, 600}, {"abc", 600}};
    for (const auto& c : cases) {
        writeKeys({{"HttpRecvTimeOut", c.value}, {"HttpSendTimeOut", c.value}});
        const struLocalParam p = read();
        EXPECT_EQ(p.HttpRecvTimeOut, c.expected) << c.value.toString().toStdString();
        EXPECT_EQ(p.HttpSendTimeOut, c.expected) << c.value.toString().toStdString();
    }
}

TEST_F(LocalParaMgtTest, StallAndRolloutTimesTakeFractionsAndFallBackTo30) {
    EXPECT_EQ(read().UpgradeStallMinutes, 30.0);  // absent
    EXPECT_EQ(read().RolloutCheckSeconds, 30.0);
    const struct {
        QVariant value;
        double expected;
    } cases[] = {{"0.05", 0.05}, {45, 45.0}, {0, 30.0}, {-1, 30.0}, {"abc", 30.0}};
    for (const auto& c : cases) {
        writeKeys({{"UpgradeStallMinutes", c.value}, {"RolloutCheckSeconds", c.value}});
        EXPECT_DOUBLE_EQ(read().UpgradeStallMinutes, c.expected)
            << c.value.toString().toStdString();
        EXPECT_DOUBLE_EQ(read().RolloutCheckSeconds, c.expected)
            << c.value.toString().toStdString();
    }
}

TEST_F(LocalParaMgtTest, ExplicitValuesAndNonNumbers) {
    writeKeys({{"TcpPort", 1234},
               {"HttpPort", "abc"},
               {"MaxConnCount", 2000},
               {"ManualMode", 1},
               {"DeviceFileQuotaMiB", 3}});
    const struLocalParam p = read();
    EXPECT_EQ(p.DeviceFileQuotaMiB, 3u);
    EXPECT_EQ(p.TcpPort, 1234);
    EXPECT_EQ(p.HttpPort, 0);  // present but not a number
    EXPECT_EQ(p.MaxConnCount, 2000);
    EXPECT_EQ(p.ManualMode, 1u);
    writeKeys({{"DeviceFileQuotaMiB", "abc"}});
    EXPECT_EQ(read().DeviceFileQuotaMiB, 64u);  // a quota of nothing would refuse every file
}

TEST_F(LocalParaMgtTest, NetIpEmptyMeansLocalAddressAndExplicitIsKept) {
    writeKeys({{"NetIP", ""}});
    EXPECT_EQ(read().NetIP, LocalParaMgt::localIPv4());
    writeKeys({{"NetIP", "10.1.2.3"}});
    EXPECT_EQ(read().NetIP, "10.1.2.3");
}

TEST_F(LocalParaMgtTest, DirectoriesAreNotConfigurable) {
    writeKeys({{"ExcelDir", "/elsewhere"}, {"PackageDir", "/elsewhere"}});
    EXPECT_EQ(read().ExcelDir, dir.path() + "/Excel");
    EXPECT_EQ(read().PackageDir, dir.path() + "/Package");
}

TEST_F(LocalParaMgtTest, WriteBackStoresSevenNumericKeysOnlyAndKeepsOthers) {
    writeKeys({{"NetIP", "10.1.2.3"}, {"HttpRecvTimeOut", 59}, {"Custom", "keep me"}});
    {
        QSettings settings(configPath(), QSettings::IniFormat);
        settings.setValue("Other/Key", 7);
    }
    mgt.writeLocalParam(read());

    QSettings settings(configPath(), QSettings::IniFormat);
    settings.beginGroup("LocalParam");
    QStringList keys = settings.childKeys();
    keys.sort();
    EXPECT_EQ(keys,
              QStringList({"Custom", "HttpPort", "HttpPort2", "HttpRecvTimeOut", "HttpSendTimeOut",
                           "ManualMode", "MaxConnCount", "NetIP", "TcpPort"}));
    EXPECT_EQ(settings.value("NetIP").toString(), "10.1.2.3");
    EXPECT_EQ(settings.value("HttpRecvTimeOut").toUInt(), 600u);  // the value in force
    EXPECT_EQ(settings.value("Custom").toString(), "keep me");
    settings.endGroup();
    EXPECT_EQ(settings.value("Other/Key").toInt(), 7);
}

TEST_F(LocalParaMgtTest, WriteBackOfDefaultsNeverWritesNetIp) {
    mgt.writeLocalParam(read());
    QSettings settings(configPath(), QSettings::IniFormat);
    EXPECT_FALSE(settings.contains("LocalParam/NetIP"));
    EXPECT_EQ(settings.value("LocalParam/TcpPort").toInt(), 10022);
}
TEST_F(LocalParaMgtTest, AccessKeysAreReadWithDefaultsAndNeverWrittenBack) {
    const struLocalParam defaults = read();
    EXPECT_EQ(defaults.OperatorLogin, 1u);
    EXPECT_EQ(defaults.SessionIdleMinutes, 30.0);
    EXPECT_TRUE(defaults.TlsCertificate.isEmpty());

    const struct {
        QVariant value;
        double expected;
    } idle[] = {{"0.05", 0.05}, {5, 5.0}, {0, 30.0}, {-1, 30.0}, {"abc", 30.0}, {20000, 30.0}};
    for (const auto& c : idle) {
        writeKeys({{"SessionIdleMinutes", c.value}});
        EXPECT_DOUBLE_EQ(read().SessionIdleMinutes, c.expected) << c.value.toString().toStdString();
    }
    writeKeys(
        {{"OperatorLogin", 0}, {"TlsCertificate", " /etc/wf/cert.pem "}, {"TlsKey", "k.pem"}});
    const struLocalParam p = read();
    EXPECT_EQ(p.OperatorLogin, 0u);
    EXPECT_EQ(p.TlsCertificate, "/etc/wf/cert.pem");
    EXPECT_EQ(p.TlsKey, "k.pem");

    QFile::remove(configPath());
    mgt.writeLocalParam(p);
    QSettings settings(configPath(), QSettings::IniFormat);
    for (const char* key : {"OperatorLogin", "SessionIdleMinutes", "TlsCertificate", "TlsKey"})
        EXPECT_FALSE(settings.contains(QStringLiteral("LocalParam/") + key)) << key;
}
}  // namespace

TEST_F(LocalParaMgtTest, OptionalLimitsFallBackToTheirDefaults) {
    writeKeys({{"ImportMaxRows", 10}, {"HttpStallTimeOut", "soon"}, {"HttpMaxBodyMemory", 0}});
    const struLocalParam p = read();
    EXPECT_EQ(p.ImportMaxRows, 10u);
    EXPECT_EQ(p.HttpStallTimeOut, 30u);
    EXPECT_EQ(p.HttpMaxBodyMemory, 256u);
    EXPECT_EQ(p.HttpMaxConnections, 0u);
    EXPECT_EQ(p.HttpMaxConnectionsPerAddress, 0u);
    EXPECT_EQ(p.ImportMaxBytes, 16u * 1024 * 1024);
    EXPECT_EQ(p.ImportMaxCells, 64u);
    // Read only: the write-back leaves the file's own text alone.
    mgt.writeLocalParam(p);
    QSettings settings(configPath(), QSettings::IniFormat);
    EXPECT_EQ(settings.value("LocalParam/HttpStallTimeOut").toString(), "soon");
    EXPECT_FALSE(settings.contains("LocalParam/ImportMaxBytes"));
}

// Instances behind a load balancer: their name, the storage they share, the download port
// terminals are told and the PROXY header; none written back.
TEST_F(LocalParaMgtTest, ClusterKeysWithDefaultsAsOneInstanceHasThem) {
    struLocalParam p = read();
    EXPECT_EQ(p.InstanceName, QHostInfo::localHostName() + ":10022");
    EXPECT_EQ(p.downloadPortForTerminals(), 8001);
    EXPECT_EQ(p.TcpProxyProtocol, 0u);

    writeKeys({{"TcpPort", 10100}, {"HttpPort2", 28001}});
    EXPECT_EQ(read().InstanceName, QHostInfo::localHostName() + ":10100");
    EXPECT_EQ(read().downloadPortForTerminals(), 28001);

    writeKeys({{"InstanceName", " upg-a "},
               {"PackageStore", "/srv/wayfarer/packages/"},
               {"DeviceFileStore", "/srv/wayfarer//files"},
               {"NetHttpPort2", 8001},
               {"TcpProxyProtocol", 1}});
    p = read();
    EXPECT_EQ(p.InstanceName, "upg-a");
    EXPECT_EQ(p.PackageDir, "/srv/wayfarer/packages");
    EXPECT_EQ(p.DevLogDir, "/srv/wayfarer/files/DevLog");
    EXPECT_EQ(p.DevIndexDir, "/srv/wayfarer/files/DevIndex");
    EXPECT_EQ(p.PrintDir, "/srv/wayfarer/files/Print");
    EXPECT_EQ(p.RunInfoDir, "/srv/wayfarer/files/RunInfo");
    EXPECT_EQ(p.ExcelDir, dir.path() + "/Excel");
    EXPECT_EQ(p.HttpPort2, 28001);
    EXPECT_EQ(p.downloadPortForTerminals(), 8001);
    EXPECT_EQ(p.TcpProxyProtocol, 1u);

    // A relative store would differ between instances started in different directories.
    writeKeys({{"PackageStore", "shared/packages"}, {"DeviceFileStore", ""}, {"NetHttpPort2", 0}});
    p = read();
    EXPECT_EQ(p.PackageDir, dir.path() + "/Package");
    EXPECT_EQ(p.DevLogDir, dir.path() + "/DevLog");
    EXPECT_EQ(p.downloadPortForTerminals(), 28001);

    mgt.writeLocalParam(p);
    QSettings settings(configPath(), QSettings::IniFormat);
    EXPECT_EQ(settings.value("LocalParam/InstanceName").toString(), " upg-a ");
    EXPECT_EQ(settings.value("LocalParam/NetHttpPort2").toInt(), 0);  // 28001 if written
}

// The balancers' list as an operator writes it (commas unquoted: QSettings reads a list), and
// a registration rate of 0 (no limit) or not a number (the default).
TEST_F(LocalParaMgtTest, AdmissionKeys) {
    QFile file(configPath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(
        "[LocalParam]\nTcpProxyTrusted=10.0.0.0/8, 192.0.2.7\nHttpProxyTrusted=127.0.0.1\n"
        "HttpListenAddress= 127.0.0.1 \nDrainSeconds=-5\n"
        "RegistrationsPerMinutePerAddress=0\nRegistrationsPerMinute=many\n");
    file.close();
    const struLocalParam p = read();
    EXPECT_EQ(p.TcpProxyTrusted, "10.0.0.0/8,192.0.2.7");
    EXPECT_EQ(p.HttpProxyTrusted, "127.0.0.1");
    EXPECT_EQ(p.HttpListenAddress, "127.0.0.1");
    EXPECT_EQ(p.DrainSeconds, 0);
    EXPECT_EQ(p.RegistrationsPerMinutePerAddress, 0u);
    EXPECT_EQ(p.RegistrationsPerMinute, 3000u);
}
