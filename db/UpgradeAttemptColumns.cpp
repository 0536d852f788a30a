#include "db/UpgradeAttemptColumns.h"

#include <QSqlQuery>
#include <QStringList>

namespace {
struct Column {
    constexpr Column(const char* n, qint32 struUpgradeAttempt::*f)
        : name(n), kind(ColumnKind::Integer), integer(f) {}
    constexpr Column(const char* n, QString struUpgradeAttempt::*f)
        : name(n), kind(ColumnKind::Text), text(f) {}
    constexpr Column(const char* n, bool struUpgradeAttempt::*f)
        : name(n), kind(ColumnKind::Flag), flag(f) {}

    const char* name;
    ColumnKind kind;
    qint32 struUpgradeAttempt::*integer = nullptr;
    QString struUpgradeAttempt::*text = nullptr;
    bool struUpgradeAttempt::*flag = nullptr;
};

// The key first: the database assigns it.
constexpr Column kColumns[] = {
    {"id", &struUpgradeAttempt::id},
    {"devSN", &struUpgradeAttempt::devSN},
    {"devType", &struUpgradeAttempt::devType},
    {"packageId", &struUpgradeAttempt::packageId},
    {"packageName", &struUpgradeAttempt::packageName},
    {"fromAppVersion", &struUpgradeAttempt::fromAppVersion},
    {"fromMcuVersion", &struUpgradeAttempt::fromMcuVersion},
    {"fromFourGVersion", &struUpgradeAttempt::fromFourGVersion},
    {"fromGnssVersion", &struUpgradeAttempt::fromGnssVersion},
    {"fromSmartModule", &struUpgradeAttempt::fromSmartModule},
    {"url", &struUpgradeAttempt::url},
    {"startedAt", &struUpgradeAttempt::startedAt},
    {"lastProgress", &struUpgradeAttempt::lastProgress},
    {"lastProgressAt", &struUpgradeAttempt::lastProgressAt},
    {"completedAt", &struUpgradeAttempt::completedAt},
    {"isCurrent", &struUpgradeAttempt::isCurrent},
    {"outcome", &struUpgradeAttempt::outcome},
    {"outcomeAt", &struUpgradeAttempt::outcomeAt},
};
constexpr int kCount = static_cast<int>(sizeof kColumns / sizeof kColumns[0]);
}  // namespace

int UpgradeAttemptColumns::count() {
    return kCount;
}

const char* UpgradeAttemptColumns::name(int column) {
    return kColumns[column].name;
}

ColumnKind UpgradeAttemptColumns::kind(int column) {
    return kColumns[column].kind;
}

QVariant UpgradeAttemptColumns::value(const struUpgradeAttempt& a, int column) {
    const Column& c = kColumns[column];
    switch (c.kind) {
        case ColumnKind::Integer:
            return a.*c.integer;
        case ColumnKind::Text:
            // Stored as '' rather than NULL, so comparisons behave the same for both.
            return (a.*c.text).isNull() ? QStringLiteral("") : a.*c.text;
        case ColumnKind::Flag:
            break;
    }
    return (a.*c.flag) ? 1 : 0;
}

const QString& UpgradeAttemptColumns::insertStatement() {
    static const QString statement = [] {
        QStringList names;
        QStringList marks;
        for (int i = 1; i < kCount; ++i) {
            names << QLatin1String(kColumns[i].name);
            marks << QStringLiteral("?");
        }
        return QStringLiteral("insert into Tab_UpgradeAttempt(%1) values(%2)")
            .arg(names.join(QLatin1Char(',')), marks.join(QLatin1Char(',')));
    }();
    return statement;
}

void UpgradeAttemptColumns::bindInsert(QSqlQuery& query, const struUpgradeAttempt& attempt) {
    for (int i = 1; i < kCount; ++i) query.bindValue(i - 1, value(attempt, i));
}

const QString& UpgradeAttemptColumns::selectList() {
    static const QString list = [] {
        QStringList names;
        for (const Column& column : kColumns) names << QStringLiteral("a.") + column.name;
        return names.join(QLatin1Char(','));
    }();
    return list;
}

void UpgradeAttemptColumns::read(const QSqlQuery& query, int first, struUpgradeAttempt& a) {
    for (int i = 0; i < kCount; ++i) {
        const Column& c = kColumns[i];
        const QVariant cell = query.value(first + i);
        switch (c.kind) {
            case ColumnKind::Integer:
                a.*c.integer = cell.toInt();
                break;
            case ColumnKind::Text:
                a.*c.text = cell.toString();
                break;
            case ColumnKind::Flag:
                a.*c.flag = cell.toInt() != 0;
                break;
        }
    }
}
