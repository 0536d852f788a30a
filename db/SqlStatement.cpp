#include "db/SqlStatement.h"

#include "db/SqlDialect.h"

SqlStatement::SqlStatement(const QString& sql) {
    if (m_connection.isUsable()) m_query = &m_connection.prepare(sql);
}

SqlStatement::SqlStatement(const QString& sqlite, const QString& postgres) {
    if (m_connection.isUsable())
        m_query =
            &m_connection.prepare(SqlDialect::twin(m_connection.database(), sqlite, postgres));
}

SqlStatement& SqlStatement::bind(const QString& placeholder, const QVariant& value) {
    // An empty text goes in as '' rather than NULL, so comparisons behave the same for both.
    if (m_query)
        m_query->bindValue(placeholder, value.type() == QVariant::String && value.isNull()
                                            ? QVariant(QStringLiteral(""))
                                            : value);
    return *this;
}

bool SqlStatement::exec() {
    if (!m_query) return false;
    const bool reads =
        m_query->lastQuery().startsWith(QLatin1String("select"), Qt::CaseInsensitive);
    QSqlQuery* ran = reads ? m_connection.read(*m_query) : (m_query->exec() ? m_query : nullptr);
    if (!ran) return false;
    m_query = ran;
    m_record = m_query->record();
    return true;
}

bool SqlStatement::next() {
    return m_query && m_query->next();
}

QVariant SqlStatement::value(const char* column) const {
    return m_query ? m_query->value(m_record.indexOf(QLatin1String(column))) : QVariant();
}
