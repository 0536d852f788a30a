#include "db/DatabaseCopy.h"

#include <QRegularExpression>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <QVariant>

#include "db/DbSchema.h"
#include "db/Migrations.h"

namespace {
// Sets the reason of a failed copy; false, for the caller to return.
bool failed(QString& error, const QString& reason) {
    error = reason;
    return false;
}

bool failed(QString& error, const QString& what, const QSqlQuery& query) {
    return failed(error, what + QStringLiteral(": ") + query.lastError().text());
}

struct SourceTables {
    QStringList copied;   // in the file's order of creation
    QStringList derived;  // written by the file's triggers; the server's triggers do the same
};

// The file's own tables, from its catalogue. A virtual table and the tables SQLite keeps for
// it hold no rows of their own.
bool listTables(QSqlDatabase& source, SourceTables& tables, QString& error) {
    QSqlQuery query(source);
    if (!query.exec(QStringLiteral("select name,sql from sqlite_master where type='table' and "
                                   "name not like 'sqlite_%' order by rowid")))
        return failed(error, QStringLiteral("the tables of WFS.db"), query);
    QStringList all;
    QStringList virtualTables;
    while (query.next()) {
        const QString name = query.value(0).toString();
        if (query.value(1).toString().startsWith(QLatin1String("create virtual"),
                                                 Qt::CaseInsensitive))
            virtualTables << name;
        else if (name.compare(QLatin1String("Tab_SchemaVersion"), Qt::CaseInsensitive) != 0)
            all << name;
    }
    QSet<QString> written;
    if (!query.exec(QStringLiteral("select sql from sqlite_master where type='trigger'")))
        return failed(error, QStringLiteral("the triggers of WFS.db"), query);
    static const QRegularExpression insertInto(QStringLiteral("insert\\s+into\\s+(\\w+)"),
                                               QRegularExpression::CaseInsensitiveOption);
    while (query.next()) {
        auto matches = insertInto.globalMatch(query.value(0).toString());
        while (matches.hasNext()) written << matches.next().captured(1).toLower();
    }
    for (const QString& name : all) {
        bool shadow = false;
        for (const QString& owner : virtualTables)
            shadow = shadow || name.startsWith(owner + QLatin1Char('_'), Qt::CaseInsensitive);
        if (shadow) continue;
        (written.contains(name.toLower()) ? tables.derived : tables.copied) << name;
    }
    return true;
}

qint64 rowCount(QSqlDatabase& db, const QString& table) {
    QSqlQuery query(db);
    return query.exec(QStringLiteral("select count(*) from %1").arg(table)) && query.next()
               ? query.value(0).toLongLong()
               : -1;
}

bool copyTable(QSqlDatabase& source, QSqlDatabase& target, const QString& table, QString& error) {
    QSqlQuery read(source);
    read.setForwardOnly(true);
    if (!read.exec(QStringLiteral("select * from %1").arg(table)))
        return failed(error, table, read);
    const QSqlRecord columns = read.record();
    QSqlQuery probe(target);
    if (!probe.exec(QStringLiteral("select * from %1 where 0=1").arg(table)))
        return failed(error, table, probe);
    const QSqlRecord known = probe.record();
    QStringList names;
    QStringList marks;
    for (int i = 0; i < columns.count(); ++i) {
        if (!known.contains(columns.fieldName(i)))
            return failed(error, QStringLiteral("%1.%2 has no column in the PostgreSQL database")
                                     .arg(table, columns.fieldName(i)));
        names << columns.fieldName(i);
        marks << QStringLiteral("?");
    }
    QSqlQuery write(target);
    if (!write.prepare(QStringLiteral("insert into %1(%2) values(%3)")
                           .arg(table, names.join(QLatin1Char(',')), marks.join(QLatin1Char(',')))))
        return failed(error, table, write);
    while (read.next()) {
        for (int i = 0; i < columns.count(); ++i) write.bindValue(i, read.value(i));
        if (!write.exec()) return failed(error, table, write);
    }
    return true;
}

// The keys the server assigns go on after the highest one copied.
bool continueKeys(QSqlDatabase& target, QString& error) {
    QSqlQuery query(target);
    if (!query.exec(QStringLiteral("select table_name,column_name from information_schema.columns "
                                   "where table_schema=current_schema() and is_identity='YES'")))
        return failed(error, QStringLiteral("the assigned keys"), query);
    QSqlQuery set(target);
    while (query.next()) {
        const QString table = query.value(0).toString();
        const QString column = query.value(1).toString();
        if (!set.exec(QStringLiteral("select setval(pg_get_serial_sequence('%1','%2'),"
                                     "coalesce(max(%2),0)+1,false) from %1")
                          .arg(table, column)))
            return failed(error, table, set);
    }
    return true;
}

bool copyAll(QSqlDatabase& source, QSqlDatabase& target, const SourceTables& tables,
             QList<DatabaseCopy::Table>& copied, QString& error) {
    const QStringList every = tables.copied + tables.derived;
    for (const QString& table : every) {
        const qint64 rows = rowCount(target, table);
        if (rows < 0)
            return failed(error,
                          QStringLiteral("%1 is missing in the PostgreSQL database").arg(table));
        if (rows > 0)
            return failed(error, QStringLiteral("the PostgreSQL database is not empty: %1 holds %2 "
                                                "rows; nothing was copied")
                                     .arg(table)
                                     .arg(rows));
    }
    for (const QString& table : tables.copied)
        if (!copyTable(source, target, table, error)) return false;
    for (const QString& table : every) {
        const qint64 expected = rowCount(source, table);
        const qint64 rows = rowCount(target, table);
        if (expected < 0 || rows != expected)
            return failed(error, QStringLiteral("%1: %2 rows in WFS.db, %3 copied")
                                     .arg(table)
                                     .arg(expected)
                                     .arg(rows));
        copied << DatabaseCopy::Table{table, rows};
    }
    return continueKeys(target, error);
}
}  // namespace

bool DatabaseCopy::run(QSqlDatabase& source, QSqlDatabase& target, QList<Table>& copied,
                       QString& error) {
    const int newest = allMigrations().back().version;
    // Both at this program's schema, so that their tables have the same columns.
    if (!DbSchema::migrate(source, allMigrations()) || DbSchema::currentVersion(source) != newest)
        return failed(error, QStringLiteral("WFS.db is not at this program's schema %1 and cannot "
                                            "be brought to it")
                                 .arg(newest));
    if (!DbSchema::migrate(target, allMigrations()) || DbSchema::currentVersion(target) != newest)
        return failed(error, QStringLiteral("the PostgreSQL database is not at this program's "
                                            "schema %1 and cannot be brought to it")
                                 .arg(newest));
    SourceTables tables;
    if (!listTables(source, tables, error)) return false;
    // One snapshot of the file, one transaction of the server's.
    if (!source.transaction()) return failed(error, source.lastError().text());
    if (!target.transaction()) {
        source.rollback();
        return failed(error, target.lastError().text());
    }
    copied.clear();
    const bool done = copyAll(source, target, tables, copied, error) && target.commit();
    if (!done) {
        if (error.isEmpty()) error = target.lastError().text();
        target.rollback();
        copied.clear();
    }
    source.rollback();
    return done;
}
