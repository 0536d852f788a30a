#pragma once

#include <vector>

#include <QByteArray>
#include <QHash>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QString>
#include <QStringList>
#include <QVariant>

#include "core/JsonText.h"

struct sqlite3_stmt;

// How a stored column's values are bound, read and shown: whole numbers (times are seconds or
// milliseconds since the epoch), texts, or flags stored as 0 and 1.
enum class ColumnKind { Integer, Text, Flag };

// Which statements carry a column: bits of each table's own choosing, and these two.
enum ColumnUse : unsigned {
    kKey = 1u << 30,       // finds the row of update(); the conflict target of upsert()
    kAssigned = 1u << 31,  // the database assigns it: left out of the plain insert
};

// A cell of a row stepped through SQLite itself, converted as Qt's SQLite driver converts it, so
// that a value stored with an unusual type (text in a flag column, say) reads the same both ways.
namespace SqliteCell {
qint64 integer(sqlite3_stmt* stmt, int column);
QString text(sqlite3_stmt* stmt, int column);
bool flag(sqlite3_stmt* stmt, int column);
}  // namespace SqliteCell

// One stored column of a record T: its name, the member that holds it (whose type decides how
// values are bound and read) and the statements that carry it.
template <typename T>
struct RecordColumn {
    RecordColumn(const char* n, qint32 T::*m, unsigned u = 0)
        : name(n), kind(ColumnKind::Integer), int32(m), use(u) {}
    RecordColumn(const char* n, qint64 T::*m, unsigned u = 0)
        : name(n), kind(ColumnKind::Integer), int64(m), use(u) {}
    RecordColumn(const char* n, QString T::*m, unsigned u = 0)
        : name(n), kind(ColumnKind::Text), text(m), use(u) {}
    RecordColumn(const char* n, bool T::*m, unsigned u = 0)
        : name(n), kind(ColumnKind::Flag), flag(m), use(u) {}

    // The member as it is: an int, a qint64, a QString or a bool.
    QVariant value(const T& record) const {
        switch (kind) {
            case ColumnKind::Integer:
                return int32 ? QVariant(record.*int32) : QVariant(record.*int64);
            case ColumnKind::Text:
                return record.*text;
            case ColumnKind::Flag:
                break;
        }
        return record.*flag;
    }
    // The value as bound: an empty text as '' rather than NULL, so comparisons behave the same
    // for both; a flag as a number, as PostgreSQL takes no boolean for an integer column.
    QVariant stored(const T& record) const {
        switch (kind) {
            case ColumnKind::Integer:
                return value(record);
            case ColumnKind::Text:
                return (record.*text).isNull() ? QStringLiteral("") : record.*text;
            case ColumnKind::Flag:
                break;
        }
        return (record.*flag) ? 1 : 0;
    }
    void set(T& record, const QVariant& cell) const {
        switch (kind) {
            case ColumnKind::Integer:
                if (int32)
                    record.*int32 = cell.toInt();
                else
                    record.*int64 = cell.toLongLong();
                return;
            case ColumnKind::Text:
                record.*text = cell.toString();
                return;
            case ColumnKind::Flag:
                record.*flag = cell.toBool();
                return;
        }
    }
    void set(T& record, sqlite3_stmt* stmt, int cell) const {
        switch (kind) {
            case ColumnKind::Integer:
                if (int32)
                    record.*int32 = static_cast<qint32>(SqliteCell::integer(stmt, cell));
                else
                    record.*int64 = SqliteCell::integer(stmt, cell);
                return;
            case ColumnKind::Text:
                record.*text = SqliteCell::text(stmt, cell);
                return;
            case ColumnKind::Flag:
                record.*flag = SqliteCell::flag(stmt, cell);
                return;
        }
    }
    bool holds(qint32 T::*m) const { return int32 == m; }
    bool holds(qint64 T::*m) const { return int64 == m; }
    bool holds(QString T::*m) const { return text == m; }
    bool holds(bool T::*m) const { return flag == m; }

    const char* name;
    ColumnKind kind;
    qint32 T::*int32 = nullptr;
    qint64 T::*int64 = nullptr;
    QString T::*text = nullptr;
    bool T::*flag = nullptr;
    unsigned use;
};

// A table's columns described once: its statements, their bindings (by position, in standard
// SQL), the row readers and the v2 documents are made from the description.
template <typename T>
class RecordColumns {
  public:
    // Each column's place in a result; -1 for a column the result does not carry.
    using Positions = std::vector<int>;

    RecordColumns(const char* table, std::vector<RecordColumn<T>> columns)
        : m_table(QLatin1String(table)), m_columns(std::move(columns)) {
        for (int i = 0; i < count(); ++i) {
            const QString folded = QString::fromLatin1(name(i)).toLower();
            m_byFoldedName.insert(folded, i);
            m_jsonNames.push_back('"' + folded.toLatin1() + "\":");
        }
    }

    const std::vector<RecordColumn<T>>& columns() const { return m_columns; }
    int count() const { return static_cast<int>(m_columns.size()); }
    const char* name(int column) const { return at(column).name; }
    ColumnKind kind(int column) const { return at(column).kind; }
    QVariant value(const T& record, int column) const { return at(column).value(record); }
    // -1 for no such column.
    int indexOf(const QString& name) const {
        for (int i = 0; i < count(); ++i)
            if (name == QLatin1String(at(i).name)) return i;
        return -1;
    }
    template <typename M>
    int indexOf(M T::*member) const {
        for (int i = 0; i < count(); ++i)
            if (at(i).holds(member)) return i;
        return -1;
    }

    // "p.a,p.b,...": every column, or the ones given, behind the prefix of a table alias.
    QString list(const QString& prefix = QString()) const {
        QStringList names;
        for (const RecordColumn<T>& column : m_columns)
            names << prefix + QLatin1String(column.name);
        return names.join(QLatin1Char(','));
    }
    QString list(const std::vector<int>& columns, const QString& prefix) const {
        QStringList names;
        for (int column : columns) names << prefix + QLatin1String(name(column));
        return names.join(QLatin1Char(','));
    }
    // "select <every column> from <table> " followed by the rest of the statement.
    QString select(const QString& rest) const {
        return QStringLiteral("select %1 from %2 %3").arg(list(), m_table, rest);
    }

    // Writes the columns carrying any of use's bits; 0 for every column the database does not
    // assign.
    QString insert(unsigned use = 0) const {
        QStringList names, marks;
        for (const RecordColumn<T>& column : m_columns) {
            if (!written(column, use)) continue;
            names << QLatin1String(column.name);
            marks << QStringLiteral("?");
        }
        return QStringLiteral("insert into %1(%2) values(%3)")
            .arg(m_table, names.join(QLatin1Char(',')), marks.join(QLatin1Char(',')));
    }
    // The values of insert(use) or upsert() from position first; returns the position after them.
    int bindInsert(QSqlQuery& query, const T& record, unsigned use = 0, int first = 0) const {
        int at = first;
        for (const RecordColumn<T>& column : m_columns)
            if (written(column, use)) query.bindValue(at++, column.stored(record));
        return at;
    }

    // insert() where a row with the same key is overwritten.
    QString upsert() const { return insert() + onConflict(); }
    int bindAll(QSqlQuery& query, const T& record, int first = 0) const {
        return bindInsert(query, record, 0, first);
    }

    // The statements above for many rows at once, read from rows: a row set with the table's
    // column names (PostgreSQL's json_populate_recordset of the table's type over the text of
    // appendJson, say), named r. The plain insert() of every row, then rest.
    QString insertFrom(const QString& rows, const QString& rest = QString()) const {
        QStringList names;
        for (const RecordColumn<T>& column : m_columns)
            if (written(column, 0)) names << QLatin1String(column.name);
        return QStringLiteral("insert into %1(%2) select %3 from %4 r %5")
            .arg(m_table, names.join(QLatin1Char(',')),
                 QStringLiteral("r.") + names.join(QStringLiteral(",r.")), rows, rest);
    }
    QString upsertFrom(const QString& rows) const { return insertFrom(rows) + onConflict(); }
    // update(use) of the row with each row's key.
    QString updateFrom(unsigned use, const QString& rows) const {
        QStringList sets, keys;
        for (const RecordColumn<T>& column : m_columns) {
            const QString name = QLatin1String(column.name);
            if (column.use & kKey)
                keys << QStringLiteral("%1.%2=r.%2").arg(m_table, name);
            else if (written(column, use))
                sets << QStringLiteral("%1=r.%1").arg(name);
        }
        return QStringLiteral("update %1 set %2 from %3 r where %4")
            .arg(m_table, sets.join(QLatin1Char(',')), rows, keys.join(QStringLiteral(" and ")));
    }
    // PostgreSQL: the rows of a JSON array of appendJson's objects bound at the one mark, as rows
    // of the table's type: a source for the statements above.
    QString rowsFromJson() const {
        return QStringLiteral("json_populate_recordset(null::%1,?::json)").arg(m_table);
    }
    // appendJson as the next element of a JSON array opened with '['.
    void appendJsonElement(QByteArray& array, const T& record, unsigned use = 0) const {
        if (array.size() > 1) array += ',';
        appendJson(array, record, use);
    }
    // The columns of insert(use) (or update(use) with its key) as a JSON object, its names as
    // PostgreSQL folds them, its values as bound.
    void appendJson(QByteArray& out, const T& record, unsigned use = 0) const {
        out += '{';
        bool first = true;
        for (int i = 0; i < count(); ++i) {
            const RecordColumn<T>& column = at(i);
            const bool key = (column.use & kKey) && !(column.use & kAssigned);
            if (!key && !written(column, use)) continue;
            if (!first) out += ',';
            first = false;
            out += m_jsonNames[static_cast<size_t>(i)];
            switch (column.kind) {
                case ColumnKind::Integer:
                    out += QByteArray::number(column.int32 ? qint64(record.*column.int32)
                                                           : record.*column.int64);
                    break;
                case ColumnKind::Text:
                    JsonText::appendString(out, record.*column.text);
                    break;
                case ColumnKind::Flag:
                    out += (record.*column.flag) ? '1' : '0';
                    break;
            }
        }
        out += '}';
    }

    // Sets the columns carrying any of use's bits (0: every column but the key and those the
    // database assigns) of the row with the record's key, where condition (more terms joined
    // with "and", its values bound after the key) holds too.
    QString update(unsigned use = 0, const QString& condition = QString()) const {
        QStringList sets, keys;
        for (const RecordColumn<T>& column : m_columns) {
            const QString term = QLatin1String(column.name) + QStringLiteral("=?");
            if (column.use & kKey)
                keys << term;
            else if (written(column, use))
                sets << term;
        }
        if (!condition.isEmpty()) keys << condition;
        return QStringLiteral("update %1 set %2 where %3")
            .arg(m_table, sets.join(QLatin1Char(',')), keys.join(QStringLiteral(" and ")));
    }
    // The values of update(use) from position first; returns the position of the condition's
    // first value.
    int bindUpdate(QSqlQuery& query, const T& record, unsigned use = 0, int first = 0) const {
        int at = first;
        for (const RecordColumn<T>& column : m_columns)
            if (!(column.use & kKey) && written(column, use))
                query.bindValue(at++, column.stored(record));
        for (const RecordColumn<T>& column : m_columns)
            if (column.use & kKey) query.bindValue(at++, column.stored(record));
        return at;
    }

    // Every column in order from position first, as select() and list() give them.
    void read(const QSqlQuery& query, T& record, int first = 0) const {
        for (int i = 0; i < count(); ++i) at(i).set(record, query.value(first + i));
    }
    // Where each column sits in a result, found once per result by name regardless of case
    // (PostgreSQL names them in lower case).
    Positions positions(const QSqlRecord& result) const {
        Positions out(m_columns.size(), -1);
        for (int i = 0; i < result.count(); ++i) {
            const int column = m_byFoldedName.value(result.fieldName(i).toLower(), -1);
            if (column >= 0) out[static_cast<size_t>(column)] = i;
        }
        return out;
    }
    // The columns given, in order from position first, as list(columns) gives them.
    Positions positions(const std::vector<int>& columns, int first) const {
        Positions out(m_columns.size(), -1);
        for (int column : columns) out[static_cast<size_t>(column)] = first++;
        return out;
    }
    // The columns a result carries; the record's other fields are left alone.
    void read(const QSqlQuery& query, const Positions& positions, T& record) const {
        for (int i = 0; i < count(); ++i) {
            const int position = positions[static_cast<size_t>(i)];
            if (position >= 0) at(i).set(record, query.value(position));
        }
    }
    // Every column in order, from a row of select() stepped through SQLite itself.
    void read(sqlite3_stmt* stmt, T& record) const {
        for (int i = 0; i < count(); ++i) at(i).set(record, stmt, i);
    }

  private:
    const RecordColumn<T>& at(int column) const { return m_columns[static_cast<size_t>(column)]; }
    QString onConflict() const {
        QStringList keys, updates;
        for (const RecordColumn<T>& column : m_columns) {
            const QString name = QLatin1String(column.name);
            if (column.use & kKey)
                keys << name;
            else if (written(column, 0))
                updates << name + QStringLiteral("=excluded.") + name;
        }
        return QStringLiteral(" on conflict(%1) do update set %2")
            .arg(keys.join(QLatin1Char(',')), updates.join(QLatin1Char(',')));
    }
    static bool written(const RecordColumn<T>& column, unsigned use) {
        return use ? (column.use & use) != 0 : (column.use & kAssigned) == 0;
    }

    QString m_table;
    std::vector<RecordColumn<T>> m_columns;
    QHash<QString, int> m_byFoldedName;   // lower-case name to column
    std::vector<QByteArray> m_jsonNames;  // "name": in lower case, by column
};
