#include "app/MigrateCommand.h"

#include <cstdio>

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>

#include "core/AppDir.h"
#include "db/DatabaseCopy.h"
#include "db/DbSettings.h"

namespace {
int fail(const QString& why) {
    std::fprintf(stderr, "Wayfarer: migration to PostgreSQL: %s\n", qUtf8Printable(why));
    return 1;
}

int copy(QSqlDatabase& source, QSqlDatabase& target) {
    QList<DatabaseCopy::Table> tables;
    QString error;
    if (!DatabaseCopy::run(source, target, tables, error)) return fail(error);
    for (const DatabaseCopy::Table& table : tables)
        std::printf("%-28s %lld rows\n", qUtf8Printable(table.name),
                    static_cast<long long>(table.rows));
    std::printf("Wayfarer: WFS.db copied into PostgreSQL database %s; the counts match.\n",
                qUtf8Printable(target.databaseName()));
    return 0;
}
}  // namespace

int migrateToPostgreSQL() {
    const DbSettings settings = DbSettings::fromConfig();
    if (settings.driver != DbSettings::Driver::PostgreSQL)
        return fail(QStringLiteral("set DbDriver=postgresql and the other Db* keys in config.ini"));
    if (settings.passwordUnreadable) return fail(QStringLiteral("DbPasswordFile cannot be read"));
    const QString file = QDir(applicationDirectory()).filePath(QStringLiteral("WFS.db"));
    if (!QFileInfo(file).isFile()) return fail(file + QStringLiteral(" does not exist"));

    const QString sourceName = QStringLiteral("migrate-source");
    const QString targetName = QStringLiteral("migrate-target");
    int code = 1;
    {
        QSqlDatabase source = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), sourceName);
        source.setDatabaseName(file);
        QSqlDatabase target = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), targetName);
        target.setHostName(settings.host);
        target.setPort(settings.port);
        target.setDatabaseName(settings.name);
        target.setUserName(settings.user);
        target.setPassword(settings.password);
        target.setConnectOptions(QStringLiteral(
            "connect_timeout=10;application_name=wayfarer;options=-cclient_min_messages=warning"));
        if (!source.open())
            code = fail(file + QStringLiteral(": ") + source.lastError().text());
        else if (!target.open())
            code = fail(QStringLiteral("the server refused: ") + target.lastError().text());
        else
            code = copy(source, target);
        source.close();
        target.close();
    }
    QSqlDatabase::removeDatabase(sourceName);
    QSqlDatabase::removeDatabase(targetName);
    return code;
}
