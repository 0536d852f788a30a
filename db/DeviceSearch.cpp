#include "db/DeviceSearch.h"

namespace {
const char* const kColumns[] = {"devSN", "LicensePlateNumber", "PhoneNumber", "devId", "devType"};
const QString kTable = QStringLiteral("Tab_DeviceSearch");

// "prefix" + column + ", " ... for every searched column.
QString columnList(const QString& prefix) {
    QStringList names;
    for (const char* column : kColumns) names << prefix + QLatin1String(column);
    return names.join(QStringLiteral(","));
}

// The trigram index answers texts of three characters and more; shorter ones scan.
bool indexable(const QString& text) {
    return text.toUcs4().size() >= 3;
}

QString likePattern(QString text) {
    text.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    text.replace(QLatin1Char('%'), QLatin1String("\\%"));
    text.replace(QLatin1Char('_'), QLatin1String("\\_"));
    return QLatin1Char('%') + text + QLatin1Char('%');
}
}  // namespace

QStringList DeviceSearch::createStatements() {
    const QString columns = columnList(QString());
    const QString oldValues =
        QStringLiteral("'delete',old.id,") + columnList(QStringLiteral("old."));
    const QString newValues = QStringLiteral("new.id,") + columnList(QStringLiteral("new."));
    QStringList changed;
    for (const char* column : kColumns)
        changed << QStringLiteral("old.%1 is not new.%1").arg(QLatin1String(column));
    const QString insertNew =
        QStringLiteral("insert into %1(rowid,%2) values(%3);").arg(kTable, columns, newValues);
    const QString deleteOld =
        QStringLiteral("insert into %1(%1,rowid,%2) values(%3);").arg(kTable, columns, oldValues);
    return {
        QStringLiteral("create virtual table %1 using fts5(%2,content='Tab_DeviceInfo',"
                       "content_rowid='id',tokenize='trigram')")
            .arg(kTable, columns),
        QStringLiteral("create trigger Tab_DeviceSearch_insert after insert on Tab_DeviceInfo "
                       "begin %1 end")
            .arg(insertNew),
        QStringLiteral("create trigger Tab_DeviceSearch_delete after delete on Tab_DeviceInfo "
                       "begin %1 end")
            .arg(deleteOld),
        // Every report rewrites the row: only a change of a searched text touches the index.
        QStringLiteral("create trigger Tab_DeviceSearch_update after update of %1 on "
                       "Tab_DeviceInfo when %2 begin %3 %4 end")
            .arg(columns, changed.join(QStringLiteral(" or ")), deleteOld, insertNew),
        QStringLiteral("insert into %1(%1) values('rebuild')").arg(kTable),
    };
}

QString DeviceSearch::condition(const QString& text, QVariantList& binds) {
    if (indexable(text)) {
        QString phrase = text;
        phrase.replace(QLatin1Char('"'), QLatin1String("\"\""));
        binds << QVariant(QLatin1Char('"') + phrase + QLatin1Char('"'));
        return QStringLiteral("d.id in (select rowid from %1 where %1 match ?)").arg(kTable);
    }
    QStringList any;
    for (const char* column : kColumns) {
        any << QStringLiteral("d.%1 like ? escape '\\'").arg(QLatin1String(column));
        binds << likePattern(text);
    }
    return QLatin1Char('(') + any.join(QStringLiteral(" or ")) + QLatin1Char(')');
}
