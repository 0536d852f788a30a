#pragma once

// Shared helpers of the tests that drive the running service over HTTP.

#include <memory>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <QUuid>
#include <QVariant>

#include <gtest/gtest.h>

#include "tests/support/HttpClient.h"
#include "tests/support/ServiceProcess.h"

// The service's WFS.db opened beside it, for seeding and checking rows.
class ServiceDb {
  public:
    explicit ServiceDb(const QString& path) : m_name(QUuid::createUuid().toString()) {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", m_name);
        db.setDatabaseName(path);
        db.open();
    }
    ~ServiceDb() {
        QSqlDatabase::database(m_name).close();
        QSqlDatabase::removeDatabase(m_name);
    }
    bool exec(const QString& statement) {
        QSqlQuery query(QSqlDatabase::database(m_name));
        const bool ok = query.exec(statement);
        if (!ok) ADD_FAILURE() << query.lastError().text().toStdString();
        return ok;
    }
    QVariant value(const QString& statement) {
        QSqlQuery query(QSqlDatabase::database(m_name));
        if (!query.exec(statement) || !query.next()) return QVariant();
        return query.value(0);
    }
    // Every row of the result, every column.
    QList<QVariantList> rows(const QString& statement) {
        QList<QVariantList> out;
        QSqlQuery query(QSqlDatabase::database(m_name));
        if (!query.exec(statement)) ADD_FAILURE() << query.lastError().text().toStdString();
        while (query.next()) {
            QVariantList row;
            for (int i = 0; i < query.record().count(); ++i) row << query.value(i);
            out << row;
        }
        return out;
    }

  private:
    QString m_name;
};

inline void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(bytes);
}

inline QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Bytes that differ from position to position, so a wrong offset shows.
inline QByteArray patternBytes(int size, int seed = 0) {
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251 + seed) & 0xff);
    return bytes;
}

inline QJsonObject jsonObject(const QByteArray& body) {
    return QJsonDocument::fromJson(body).object();
}

// The JSON object of the given list member under "data".
inline QJsonArray jsonList(const QByteArray& body, const char* member) {
    return jsonObject(body).value("data").toObject().value(member).toArray();
}

struct CurlResult {
    int exitCode = -1;
    QByteArray headers;  // the header block as dumped by curl
    QByteArray body;
};

// Runs curl against the service; the body lands in a file so binary bytes survive.
inline CurlResult runCurl(const QStringList& args, const QString& workDir) {
    CurlResult result;
    const QString bodyFile = workDir + "/curl-body-" + QUuid::createUuid().toString(QUuid::Id128);
    const QString headerFile = bodyFile + ".h";
    QProcess curl;
    curl.start("curl",
               QStringList{"-s", "-D", headerFile, "-o", bodyFile, "--max-time", "10"} + args);
    if (!curl.waitForFinished(15000)) {
        curl.kill();
        curl.waitForFinished();
        return result;
    }
    result.exitCode = curl.exitCode();
    result.headers = readFile(headerFile);
    result.body = readFile(bodyFile);
    QFile::remove(headerFile);
    QFile::remove(bodyFile);
    return result;
}

// Value of a header in curl's dump (first match, case-insensitive), and the count of it.
inline QByteArray curlHeader(const QByteArray& dump, const QByteArray& name, int* count = nullptr) {
    QByteArray value;
    int n = 0;
    for (const QByteArray& line : dump.split('\n')) {
        const int colon = line.indexOf(':');
        if (colon <= 0 || line.left(colon).trimmed().toLower() != name.toLower()) continue;
        if (n++ == 0) value = line.mid(colon + 1).trimmed();
    }
    if (count) *count = n;
    return value;
}
