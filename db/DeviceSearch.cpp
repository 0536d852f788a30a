#include "db/DeviceSearch.h"

#include <QSqlQuery>
#include <QVariant>

#include "db/SqlDialect.h"

namespace {
const char* const kColumns[] = {"devSN", "LicensePlateNumber", "PhoneNumber", "devId", "devType"};
const QString kText = QStringLiteral("Tab_DeviceSearchText");
const QString kIndex = QStringLiteral("Tab_DeviceSearch");

// A terminal's searched texts in one, each ended by the unit separator, which no search text
// holds: a match never spans two columns. row is "new" or "old"; separator char(31) in SQLite,
// chr(31) in PostgreSQL.
QString searchText(const QString& row, const QString& separator = QStringLiteral("char(31)")) {
    QStringList parts;
    for (const char* column : kColumns)
        parts
            << QStringLiteral("coalesce(%1.%2,'')||%3").arg(row, QLatin1String(column), separator);
    return parts.join(QStringLiteral("||"));
}

// The trigram index answers texts of three characters and more; shorter ones scan the narrow
// table of joined texts, not the wide device table.
bool indexable(const QString& text) {
    return text.toUcs4().size() >= 3;
}

// The whole text as one FTS5 phrase: its quotes, operators and stars are plain characters.
QString phrase(QString text) {
    text.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

bool execAll(QSqlDatabase& db, const QStringList& statements) {
    QSqlQuery query(db);
    for (const QString& statement : statements)
        if (!query.exec(statement)) return false;
    return true;
}

QStringList sqliteStatements() {
    const QString removeOld =
        QStringLiteral(
            "insert into %1(%1,rowid,text) select 'delete',id,text from %2 where "
            "id=old.id;")
            .arg(kIndex, kText);
    const QString indexNew = QStringLiteral("insert into %1(rowid,text) values(new.id,%2);")
                                 .arg(kIndex, searchText("new"));
    QStringList columns;
    QStringList changed;
    for (const char* column : kColumns) {
        columns << QLatin1String(column);
        changed << QStringLiteral("old.%1 is not new.%1").arg(QLatin1String(column));
    }
    return {
        QStringLiteral("create table %1(id INTEGER PRIMARY KEY,text TEXT)").arg(kText),
        QStringLiteral("create virtual table %1 using fts5(text,content='%2',content_rowid='id',"
                       "tokenize='trigram')")
            .arg(kIndex, kText),
        QStringLiteral("create trigger Tab_DeviceSearch_insert after insert on Tab_DeviceInfo "
                       "begin insert into %1(id,text) values(new.id,%2); %3 end")
            .arg(kText, searchText("new"), indexNew),
        QStringLiteral("create trigger Tab_DeviceSearch_delete after delete on Tab_DeviceInfo "
                       "begin %1 delete from %2 where id=old.id; end")
            .arg(removeOld, kText),
        // Every report rewrites the row: only a change of a searched text touches the index.
        QStringLiteral("create trigger Tab_DeviceSearch_update after update of %1 on "
                       "Tab_DeviceInfo when %2 begin %3 update %4 set text=%5 where id=old.id; %6 "
                       "end")
            .arg(columns.join(QLatin1Char(',')), changed.join(QStringLiteral(" or ")), removeOld,
                 kText, searchText("new"), indexNew),
        QStringLiteral("insert into %1(id,text) select d.id,%2 from Tab_DeviceInfo d")
            .arg(kText, searchText("d")),
        QStringLiteral("insert into %1(%1) values('rebuild')").arg(kIndex),
    };
}

// pg_trgm comes with the server's contrib modules; without it (or without the right to add it to
// the database) the table is scanned. Tried under a savepoint, as a failed statement would end
// the step's transaction.
bool addTrigramIndex(QSqlDatabase& db) {
    QSqlQuery query(db);
    if (!query.exec(
            QStringLiteral("select count(*) from pg_available_extensions where name='pg_trgm'")) ||
        !query.next())
        return false;
    if (query.value(0).toInt() == 0) return true;
    if (!query.exec(QStringLiteral("savepoint trigram"))) return false;
    if (!query.exec(QStringLiteral("create extension if not exists pg_trgm")))
        return query.exec(QStringLiteral("rollback to savepoint trigram"));
    return query.exec(QStringLiteral("release savepoint trigram")) &&
           query.exec(QStringLiteral("create index Tab_DeviceSearch_trigram on %1 using "
                                     "gin(text gin_trgm_ops)")
                          .arg(kText));
}

bool createPostgres(QSqlDatabase& db) {
    QStringList columns;
    QStringList changed;
    for (const char* column : kColumns) {
        columns << QLatin1String(column);
        changed << QStringLiteral("old.%1 is distinct from new.%1").arg(QLatin1String(column));
    }
    const QString separator = QStringLiteral("chr(31)");
    // One function for the three triggers; a report that changes no searched text skips it.
    const QString keep =
        QStringLiteral(
            "create function Tab_DeviceSearch_keep() returns trigger language plpgsql as $$ "
            "begin "
            "if tg_op='DELETE' then delete from %1 where id=old.id; return old; end if; "
            "if tg_op='INSERT' then insert into %1(id,text) values(new.id,%2); return new; end if; "
            "update %1 set text=%2 where id=new.id; return new; "
            "end $$")
            .arg(kText, searchText(QStringLiteral("new"), separator));
    if (!execAll(
            db, {QStringLiteral("create table %1(id INTEGER PRIMARY KEY,text TEXT)").arg(kText)}) ||
        !addTrigramIndex(db))
        return false;
    return execAll(
        db, {keep,
             QStringLiteral("create trigger Tab_DeviceSearch_insert after insert on Tab_DeviceInfo "
                            "for each row execute function Tab_DeviceSearch_keep()"),
             QStringLiteral("create trigger Tab_DeviceSearch_delete after delete on Tab_DeviceInfo "
                            "for each row execute function Tab_DeviceSearch_keep()"),
             QStringLiteral("create trigger Tab_DeviceSearch_update after update of %1 on "
                            "Tab_DeviceInfo for each row when (%2) execute function "
                            "Tab_DeviceSearch_keep()")
                 .arg(columns.join(QLatin1Char(',')), changed.join(QStringLiteral(" or "))),
             QStringLiteral("insert into %1(id,text) select d.id,%2 from Tab_DeviceInfo d")
                 .arg(kText, searchText(QStringLiteral("d"), separator))});
}
}  // namespace

QString DeviceSearch::likePattern(QString text) {
    text.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    text.replace(QLatin1Char('%'), QLatin1String("\\%"));
    text.replace(QLatin1Char('_'), QLatin1String("\\_"));
    return QLatin1Char('%') + text + QLatin1Char('%');
}

bool DeviceSearch::create(QSqlDatabase& db) {
    return SqlDialect::isPostgreSQL(db) ? createPostgres(db) : execAll(db, sqliteStatements());
}

QString DeviceSearch::condition(const QSqlDatabase& db, const QString& text, bool forCount,
                                QVariantList& binds) {
    QString wanted = text;
    wanted.remove(QChar(31));
    if (SqlDialect::isPostgreSQL(db)) {
        // The trigram index serves ILIKE itself, short texts by a scan of the narrow table.
        binds << likePattern(wanted);
        return forCount ? QStringLiteral(
                              "d.id in (select t.id from %1 t where t.text ilike ? escape '\\')")
                              .arg(kText)
                        : QStringLiteral(
                              "exists (select 1 from %1 t where t.id=d.id and t.text ilike ? "
                              "escape '\\')")
                              .arg(kText);
    }
    if (indexable(wanted)) {
        binds << phrase(wanted);
        return QStringLiteral("d.id in (select rowid from %1 where %1 match ?)").arg(kIndex);
    }
    binds << likePattern(wanted);
    // A count scans the joined texts once; a page looks each row's up, so that it can stop at
    // the end of the page instead of collecting every match first.
    if (forCount)
        return QStringLiteral("d.id in (select t.id from %1 t where t.text like ? escape '\\')")
            .arg(kText);
    return QStringLiteral(
               "exists (select 1 from %1 t where t.id=d.id and t.text like ? escape '\\')")
        .arg(kText);
}

QString DeviceSearch::outsideDeviceId(const QSqlDatabase& db, const QString& text,
                                      QVariantList& binds) {
    QString wanted = text;
    wanted.remove(QChar(31));
    const QString like =
        SqlDialect::isPostgreSQL(db) ? QStringLiteral("ilike") : QStringLiteral("like");
    QStringList matches;
    for (const char* column : kColumns) {
        if (qstrcmp(column, "devId") == 0) continue;
        matches << QStringLiteral("d.%1 %2 ? escape '\\'").arg(QLatin1String(column), like);
        binds << likePattern(wanted);
    }
    return QLatin1Char('(') + matches.join(QStringLiteral(" or ")) + QLatin1Char(')');
}

QString DeviceSearch::count(const QSqlDatabase& db, const QString& text, QVariantList& binds) {
    QString wanted = text;
    wanted.remove(QChar(31));
    if (SqlDialect::isPostgreSQL(db)) {
        binds << likePattern(wanted);
        return QStringLiteral("select count(*) from %1 t where t.text ilike ? escape '\\'")
            .arg(kText);
    }
    if (indexable(wanted)) {
        binds << phrase(wanted);
        return QStringLiteral("select count(*) from %1 where %1 match ?").arg(kIndex);
    }
    binds << likePattern(wanted);
    return QStringLiteral("select count(*) from %1 t where t.text like ? escape '\\'").arg(kText);
}
