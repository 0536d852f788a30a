#include "db/SqlStatement.h"

SqlStatement::SqlStatement(const QString& sql) {
    if (m_connection.isUsable()) m_query = &m_connection.prepare(sql);
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
    if (!m_query || !m_query->exec()) return false;
    m_record = m_query->record();
    return true;
}

bool SqlStatement::next() {
    return m_query && m_query->next();
}

QVariant SqlStatement::value(const char* column) const {
    return m_query ? m_query->value(m_record.indexOf(QLatin1String(column))) : QVariant();
}
