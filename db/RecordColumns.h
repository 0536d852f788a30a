#pragma once

#include <vector>

#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>

#include "db/ColumnKind.h"

// One stored column of a record T: its name and the member that holds it.
template <typename T>
struct RecordColumn {
    RecordColumn(const char* n, qint32 T::*f) : name(n), kind(ColumnKind::Integer), integer(f) {}
    RecordColumn(const char* n, QString T::*f) : name(n), kind(ColumnKind::Text), text(f) {}
    RecordColumn(const char* n, bool T::*f) : name(n), kind(ColumnKind::Flag), flag(f) {}

    QVariant value(const T& record) const {
        switch (kind) {
            case ColumnKind::Integer:
                return record.*integer;
            case ColumnKind::Text:
                // Stored as '' rather than NULL, so comparisons behave the same for both.
                return (record.*text).isNull() ? QStringLiteral("") : record.*text;
            case ColumnKind::Flag:
                break;
        }
        return (record.*flag) ? 1 : 0;
    }
    void set(T& record, const QVariant& cell) const {
        switch (kind) {
            case ColumnKind::Integer:
                record.*integer = cell.toInt();
                return;
            case ColumnKind::Text:
                record.*text = cell.toString();
                return;
            case ColumnKind::Flag:
                record.*flag = cell.toInt() != 0;
                return;
        }
    }

    const char* name;
    ColumnKind kind;
    qint32 T::*integer = nullptr;
    QString T::*text = nullptr;
    bool T::*flag = nullptr;
};

// A table's columns described once, its key first: the statements, their bindings and the row
// reader are made from the description, in standard SQL. Values are bound by position.
template <typename T>
class RecordColumns {
  public:
    RecordColumns(const char* table, int keyCount, std::vector<RecordColumn<T>> columns)
        : m_table(QLatin1String(table)), m_keys(keyCount), m_columns(std::move(columns)) {}

    const std::vector<RecordColumn<T>>& columns() const { return m_columns; }

    // Writes every column; a row with the same key is overwritten.
    QString upsert() const {
        QStringList names, marks, updates;
        for (size_t i = 0; i < m_columns.size(); ++i) {
            const QString name = QLatin1String(m_columns[i].name);
            names << name;
            marks << QStringLiteral("?");
            if (static_cast<int>(i) >= m_keys)
                updates << name + QStringLiteral("=excluded.") + name;
        }
        return QStringLiteral("insert into %1(%2) values(%3) on conflict(%4) do update set %5")
            .arg(m_table, names.join(QLatin1Char(',')), marks.join(QLatin1Char(',')),
                 names.mid(0, m_keys).join(QLatin1Char(',')), updates.join(QLatin1Char(',')));
    }
    void bindAll(QSqlQuery& query, const T& record) const {
        for (size_t i = 0; i < m_columns.size(); ++i)
            query.bindValue(static_cast<int>(i), m_columns[i].value(record));
    }

    // Writes every column but the key of the row with the record's key, where condition (more
    // terms joined with "and", its values bound after the key) holds too.
    QString update(const QString& condition = QString()) const {
        QStringList sets, keys;
        for (size_t i = 0; i < m_columns.size(); ++i) {
            const QString term = QLatin1String(m_columns[i].name) + QStringLiteral("=?");
            (static_cast<int>(i) < m_keys ? keys : sets) << term;
        }
        if (!condition.isEmpty()) keys << condition;
        return QStringLiteral("update %1 set %2 where %3")
            .arg(m_table, sets.join(QLatin1Char(',')), keys.join(QStringLiteral(" and ")));
    }
    // The values of update(); returns the position of the condition's first value.
    int bindUpdate(QSqlQuery& query, const T& record) const {
        int at = 0;
        for (size_t i = m_keys; i < m_columns.size(); ++i)
            query.bindValue(at++, m_columns[i].value(record));
        for (int i = 0; i < m_keys; ++i) query.bindValue(at++, m_columns[i].value(record));
        return at;
    }

    // "select <every column> from <table> " followed by the rest of the statement.
    QString select(const QString& rest) const {
        QStringList names;
        for (const RecordColumn<T>& column : m_columns) names << QLatin1String(column.name);
        return QStringLiteral("select %1 from %2 %3")
            .arg(names.join(QLatin1Char(',')), m_table, rest);
    }
    void read(const QSqlQuery& query, T& record) const {
        for (size_t i = 0; i < m_columns.size(); ++i)
            m_columns[i].set(record, query.value(static_cast<int>(i)));
    }

  private:
    QString m_table;
    int m_keys;
    std::vector<RecordColumn<T>> m_columns;
};
