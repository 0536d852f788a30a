#include "db/DeviceSearch.h"

namespace {
const char* const kColumns[] = {"devSN", "LicensePlateNumber", "PhoneNumber", "devId", "devType"};
const QString kText = QStringLiteral("Tab_DeviceSearchText");
const QString kIndex = QStringLiteral("Tab_DeviceSearch");

// A terminal's searched texts in one, each ended by the unit separator, which no search text
// holds: a match never spans two columns. row is "new" or "old".
QString searchText(const QString& row) {
    QStringList parts;
    for (const char* column : kColumns)
        parts << QStringLiteral("coalesce(%1.%2,'')||char(31)").arg(row, QLatin1String(column));
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

QString likePattern(QString text) {
    text.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    text.replace(QLatin1Char('%'), QLatin1String("\\%"));
    text.replace(QLatin1Char('_'), QLatin1String("\\_"));
    return QLatin1Char('%') + text + QLatin1Char('%');
}
}  // namespace

QStringList DeviceSearch::createStatements() {
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

QString DeviceSearch::condition(const QString& text, bool forCount, QVariantList& binds) {
    QString wanted = text;
    wanted.remove(QChar(31));
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

QString DeviceSearch::count(const QString& text, QVariantList& binds) {
    QString wanted = text;
    wanted.remove(QChar(31));
    if (indexable(wanted)) {
        binds << phrase(wanted);
        return QStringLiteral("select count(*) from %1 where %1 match ?").arg(kIndex);
    }
    binds << likePattern(wanted);
    return QStringLiteral("select count(*) from %1 t where t.text like ? escape '\\'").arg(kText);
}
