#pragma once

#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>

// A PostgreSQL cluster of the test's own in dir (tests/support/pg_cluster.sh), reachable through
// its socket there, stopped and removed when the test ends however it ends.
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
    // The server stops, its data kept; resume() starts it again.
    bool halt() { return QProcess::execute(script(), {QStringLiteral("halt"), m_state}) == 0; }
    bool resume() { return QProcess::execute(script(), {QStringLiteral("resume"), m_state}) == 0; }

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

  private:
    static QString script() { return QStringLiteral(WAYFARER_PG_CLUSTER); }

    QString m_dir;
    QString m_state;
    bool m_started = false;
};
