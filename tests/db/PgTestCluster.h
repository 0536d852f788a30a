#pragma once

#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

// A throwaway PostgreSQL cluster of the test's own in dir (tests/support/pg_cluster.sh), stopped
// and removed when the test ends however it ends. Its user "wayfarer" logs in without a password
// through the Unix socket in dir; its database "wayfarer" exists.
class PgTestCluster {
  public:
    explicit PgTestCluster(const QString& dir)
        : m_dir(dir), m_state(dir + QStringLiteral(".env")) {}
    ~PgTestCluster() {
        if (m_started) QProcess::execute(script(), {QStringLiteral("stop"), m_state});
    }
    PgTestCluster(const PgTestCluster&) = delete;
    PgTestCluster& operator=(const PgTestCluster&) = delete;

    // False with the reason in why when it cannot start; skip is set when the server is not
    // installed at all.
    bool start(bool& skip, QString& why) {
        QProcess run;
        run.setProcessChannelMode(QProcess::MergedChannels);
        run.start(script(), {QStringLiteral("start"), m_state, m_dir});
        const bool ended = run.waitForFinished(120000);
        why = QString::fromUtf8(run.readAll());
        m_started = true;
        QFile state(m_state);
        skip = state.open(QIODevice::ReadOnly) && state.readAll().contains("PG_MISSING");
        return ended && run.exitCode() == 0 && !skip;
    }

  private:
    static QString script() { return QStringLiteral(WAYFARER_PG_CLUSTER); }

    QString m_dir;
    QString m_state;
    bool m_started = false;
};
