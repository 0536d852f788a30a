#pragma once

#include <QObject>
#include <QString>

#include "core/struLocalParam.h"

// Owns config.ini beside the executable: reads it into a caller's record with defaults and
// range checks, and writes the numeric keys back so the file shows the values in force.
class LocalParaMgt : public QObject {
    Q_OBJECT
  public:
    // The config.ini in appDir.
    explicit LocalParaMgt(const QString& appDir, QObject* parent = nullptr);

    void readLocalParam(struLocalParam& param);
    void writeLocalParam(const struLocalParam& param);

    static QString localIPv4();

    static constexpr qint32 kDefaultTcpPort = 10022;
    static constexpr qint32 kDefaultHttpPort = 80;
    static constexpr qint32 kDefaultHttpPort2 = 8001;
    static constexpr qint32 kDefaultMaxConnCount = 50;
    static constexpr quint32 kDefaultTimeOut = 600;
    static constexpr double kDefaultSessionIdleMinutes = 30;
    static constexpr quint32 kDefaultHttpMaxBodyMemory = 256;
    static constexpr quint32 kDefaultHttpStallTimeOut = 30;
    static constexpr quint32 kDefaultImportMaxBytes = 16 * 1024 * 1024;
    static constexpr quint32 kDefaultImportMaxRows = 50000;
    static constexpr quint32 kDefaultImportMaxCells = 64;
    static constexpr double kDefaultUpgradeStallMinutes = 30;
    static constexpr double kDefaultRolloutCheckSeconds = 30;
    static constexpr double kDefaultDashboardSampleSeconds = 300;
    static constexpr double kDefaultDashboardKeepDays = 30;
    static constexpr qint32 kDefaultDbPort = 5432;

  private:
    QString configPath() const;

    QString m_appDir;
    QString m_configPath;
    QString m_dirPrefix;
    QString m_localAddress;
};
