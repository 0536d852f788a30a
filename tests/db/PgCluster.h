#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <QVariant>

#include "tests/support/ServiceProcess.h"

// A PostgreSQL cluster of the test's own in dir (tests/support/pg_cluster.sh), stopped and
// removed when the test ends however it ends.
class PgCluster {
  public:
    explicit PgCluster(const QString& dir) : m_dir(dir), m_state(dir + QStringLiteral(".env")) {}
    ~PgCluster() {
        if (m_started) run(QStringLiteral("stop"));
    }
    PgCluster(const PgCluster&) = delete;
    PgCluster& operator=(const PgCluster&) = delete;

    // False with the reason in why when it cannot start; skip is set when the server is not
    // installed at all.
    bool start(bool& skip, QString& why) {
        const bool ran = run(QStringLiteral("start"), m_dir, &why);
        m_started = true;
        QFile state(m_state);
        skip = state.open(QIODevice::ReadOnly) && state.readAll().contains("PG_MISSING");
        return ran && !skip;
    }
    // The server stops (clients are cut off) and starts again on the same data.
    bool pause() { return run(QStringLiteral("pause")); }
    bool resume() { return run(QStringLiteral("resume")); }

    // The first column of the first row of sql, on a connection of the test's; invalid when the
    // server cannot answer.
    QVariant value(const QString& sql) const {
        const QString name = QStringLiteral("pg-check-") + QUuid::createUuid().toString();
        QVariant result;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
            db.setHostName(m_dir);
            db.setPort(5432);
            db.setUserName(QStringLiteral("wayfarer"));
            db.setDatabaseName(QStringLiteral("wayfarer"));
            QSqlQuery query(db);
            if (db.open() && query.exec(sql) && query.next()) result = query.value(0);
        }
        QSqlDatabase::removeDatabase(name);
        return result;
    }

    // The keys that point a service at this cluster (before or after it started).
    void serve(ServiceProcess& service) const {
        service.setParam(QStringLiteral("DbDriver"), QStringLiteral("postgresql"));
        service.setParam(QStringLiteral("DbHost"), m_dir);
        service.setParam(QStringLiteral("DbPort"), 5432);
        service.setParam(QStringLiteral("DbName"), QStringLiteral("wayfarer"));
        service.setParam(QStringLiteral("DbUser"), QStringLiteral("wayfarer"));
    }
    // A directory of its own for a cluster, not made yet.
    static QString freshDir() {
        return QDir::tempPath() + QStringLiteral("/wayfarer-pg-") +
               QUuid::createUuid().toString(QUuid::Id128);
    }

  private:
    bool run(const QString& action, const QString& dir = QString(), QString* output = nullptr) {
        QProcess script;
        script.setProcessChannelMode(QProcess::MergedChannels);
        QStringList arguments{action, m_state};
        if (!dir.isEmpty()) arguments << dir;
        script.start(QStringLiteral(WAYFARER_PG_CLUSTER), arguments);
        const bool ended = script.waitForFinished(120000);
        if (output) *output = QString::fromUtf8(script.readAll());
        return ended && script.exitStatus() == QProcess::NormalExit && script.exitCode() == 0;
    }

    QString m_dir;
    QString m_state;
    bool m_started = false;
};

// Starts cluster in a test: skips the test when the server is not installed, fails it when the
// cluster does not start.
#define START_PG_CLUSTER(cluster)                          \
    do {                                                   \
        bool skip_ = false;                                \
        QString why_;                                      \
        if (!(cluster).start(skip_, why_)) {               \
            if (skip_) GTEST_SKIP() << why_.toStdString(); \
            FAIL() << why_.toStdString();                  \
        }                                                  \
    } while (false)
