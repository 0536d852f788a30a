#include "db/DeviceColumns.h"

#include <sqlite3.h>

#include <QByteArray>
#include <QHash>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <QVariant>

namespace {
// Which statements carry a column.
enum Use : unsigned {
    kRead = 0,      // read back only: the database assigns it
    kInsert = 1,    // written by the inserts
    kUpdate = 2,    // set by the updates
    kKey = 4,       // finds the row of the updates and of the lookup
    kWithTime = 8,  // only in the statements that write the completion time
    kReport = 16,   // carried by a terminal's report
    kPin = 32,      // written when a report pins the terminal's identity
    kSaved = 64,    // written by the insert without completion time (an operator's new row)
};

enum class Type { Integer, Text, Flag };

// One stored column: its name, the record field it holds (the field's type decides how values
// are bound and read) and the statements that carry it.
struct Column {
    constexpr Column(const char* n, qint32 struDeviceInfo::*f, unsigned u)
        : name(n), type(Type::Integer), integer(f), use(u) {}
    constexpr Column(const char* n, QString struDeviceInfo::*f, unsigned u)
        : name(n), type(Type::Text), text(f), use(u) {}
    constexpr Column(const char* n, bool struDeviceInfo::*f, unsigned u)
        : name(n), type(Type::Flag), flag(f), use(u) {}

    const char* name;
    Type type;
    qint32 struDeviceInfo::*integer = nullptr;
    QString struDeviceInfo::*text = nullptr;
    bool struDeviceInfo::*flag = nullptr;
    unsigned use;
};

constexpr unsigned kWritten = kInsert | kUpdate;
constexpr unsigned kReported = kWritten | kReport;

// In the order the statements name them; the lookup reads its row by these positions.
constexpr Column kColumns[] = {
    {"id", &struDeviceInfo::id, kRead},
    {"devId", &struDeviceInfo::devId, kWritten | kPin},
    {"devSN", &struDeviceInfo::devSN, kInsert | kKey},
    {"devType", &struDeviceInfo::devType, kReported},
    {"LicensePlateNumber", &struDeviceInfo::LicensePlateNumber, kReported},
    {"PhoneNumber", &struDeviceInfo::PhoneNumber, kReported},
    {"AppVersion", &struDeviceInfo::AppVersion, kReported},
    {"McuVersion", &struDeviceInfo::McuVersion, kReported},
    {"FourGVersion", &struDeviceInfo::FourGVersion, kReported},
    {"GnssVersion", &struDeviceInfo::GnssVersion, kReported},
    {"SmartModule", &struDeviceInfo::SmartModule, kReported},
    {"Reserve", &struDeviceInfo::Reserve, kReported},
    {"isAutoUpdate", &struDeviceInfo::isAutoUpdate, kWritten},
    {"ConfigCmd", &struDeviceInfo::ConfigCmd, kWritten},
    {"UpgradeCompletionTime", &struDeviceInfo::UpgradeCompletionTime, kWritten | kWithTime},
    {"GetLogFile", &struDeviceInfo::GetLogFile, kWritten},
    {"GetIndexFile", &struDeviceInfo::GetIndexFile, kWritten},
    {"GetPrintFile", &struDeviceInfo::GetPrintFile, kWritten},
    {"GetRunInfoFile", &struDeviceInfo::GetRunInfoFile, kWritten},
    // A terminal's own first report pins its row (the column default); a row an operator adds
    // pins at the terminal's first report.
    {"IdentityPinned", &struDeviceInfo::IdentityPinned, kPin | kSaved},
    // Written at each accepted report by its own statement, never from a whole record.
    {"LastReportTime", &struDeviceInfo::LastReportTime, kRead},
};
constexpr int kColumnCount = static_cast<int>(sizeof kColumns / sizeof kColumns[0]);

const char kTable[] = "Tab_DeviceInfo";

bool isInsert(DeviceColumns::Write write) {
    return write == DeviceColumns::Write::Insert || write == DeviceColumns::Write::InsertWithTime;
}

bool withTime(DeviceColumns::Write write) {
    return write == DeviceColumns::Write::InsertWithTime ||
           write == DeviceColumns::Write::UpdateWithTime;
}

// Written by the statement: in the insert's column list or the update's set list.
bool written(const Column& column, DeviceColumns::Write write) {
    if (write == DeviceColumns::Write::Report) return (column.use & kReport) != 0;
    if (write == DeviceColumns::Write::ReportPin) return (column.use & (kReport | kPin)) != 0;
    if (write == DeviceColumns::Write::Insert && (column.use & kSaved)) return true;
    if ((column.use & kWithTime) && !withTime(write)) return false;
    return (column.use & (isInsert(write) ? kInsert : kUpdate)) != 0;
}

// A parameter of the statement: written, or the key of an update.
bool bound(const Column& column, DeviceColumns::Write write) {
    return written(column, write) || (!isInsert(write) && (column.use & kKey));
}

const char* keyName() {
    for (const Column& column : kColumns)
        if (column.use & kKey) return column.name;
    return nullptr;
}

QString build(DeviceColumns::Write write) {
    const QString table = QLatin1String(kTable);
    QStringList names;
    for (const Column& column : kColumns)
        if (written(column, write)) names << QLatin1String(column.name);
    if (isInsert(write))
        return QStringLiteral("insert into ") + table + QLatin1Char('(') +
               names.join(QLatin1Char(',')) + QStringLiteral(") values(:") +
               names.join(QStringLiteral(",:")) + QLatin1Char(')');
    for (QString& name : names) name += QStringLiteral("=:") + name;
    const QString key = QLatin1String(keyName());
    return QStringLiteral("update ") + table + QStringLiteral(" set ") +
           names.join(QLatin1Char(',')) + QStringLiteral(" where ") + key + QStringLiteral("=:") +
           key;
}

// The parameter names, made once: binding runs for every stored record.
const QStringList& placeholders() {
    static const QStringList names = [] {
        QStringList out;
        for (const Column& column : kColumns)
            out << QStringLiteral(":") + QLatin1String(column.name);
        return out;
    }();
    return names;
}

// An empty text is stored as '' rather than NULL, so lookups by text behave the same for both.
QVariant text(const QString& value) {
    return value.isNull() ? QVariant(QStringLiteral("")) : QVariant(value);
}

QString textColumn(sqlite3_stmt* stmt, int column) {
    const void* text = sqlite3_column_text16(stmt, column);
    return QString(static_cast<const QChar*>(text),
                   sqlite3_column_bytes16(stmt, column) / static_cast<int>(sizeof(QChar)));
}

// A column as Qt's SQLite driver gives it, so that a value stored with an unusual type (text in
// a flag column, say) converts exactly as it does through QSqlQuery.
QVariant rawValue(sqlite3_stmt* stmt, int column) {
    switch (sqlite3_column_type(stmt, column)) {
        case SQLITE_INTEGER:
            return QVariant(static_cast<qlonglong>(sqlite3_column_int64(stmt, column)));
        case SQLITE_FLOAT:
            return QVariant(sqlite3_column_double(stmt, column));
        case SQLITE_NULL:
            return QVariant(QVariant::String);
        case SQLITE_BLOB:
            return QByteArray(static_cast<const char*>(sqlite3_column_blob(stmt, column)),
                              sqlite3_column_bytes(stmt, column));
        default:
            return textColumn(stmt, column);
    }
}

QString rawText(sqlite3_stmt* stmt, int column) {
    if (sqlite3_column_type(stmt, column) != SQLITE_TEXT) return rawValue(stmt, column).toString();
    return textColumn(stmt, column);
}

int rawInt(sqlite3_stmt* stmt, int column) {
    if (sqlite3_column_type(stmt, column) == SQLITE_INTEGER)
        return static_cast<int>(sqlite3_column_int64(stmt, column));
    return rawValue(stmt, column).toInt();
}

bool rawBool(sqlite3_stmt* stmt, int column) {
    if (sqlite3_column_type(stmt, column) == SQLITE_INTEGER)
        return sqlite3_column_int64(stmt, column) != 0;
    return rawValue(stmt, column).toBool();
}
}  // namespace

const QString& DeviceColumns::statement(Write write) {
    static const QString statements[] = {build(Write::Insert), build(Write::InsertWithTime),
                                         build(Write::Update), build(Write::UpdateWithTime),
                                         build(Write::Report), build(Write::ReportPin)};
    return statements[static_cast<int>(write)];
}

void DeviceColumns::bind(QSqlQuery& query, Write write, const struDeviceInfo& d) {
    const QStringList& names = placeholders();
    for (int i = 0; i < kColumnCount; ++i) {
        const Column& column = kColumns[i];
        if (!bound(column, write)) continue;
        switch (column.type) {
            case Type::Integer:
                query.bindValue(names.at(i), d.*column.integer);
                break;
            case Type::Text:
                query.bindValue(names.at(i), text(d.*column.text));
                break;
            case Type::Flag:
                // As a number: PostgreSQL does not take a boolean for an integer column.
                query.bindValue(names.at(i), d.*column.flag ? 1 : 0);
                break;
        }
    }
}

const char* DeviceColumns::nameOf(bool struDeviceInfo::*flag) {
    for (const Column& column : kColumns)
        if (column.type == Type::Flag && column.flag == flag) return column.name;
    return nullptr;
}

const char* DeviceColumns::selectBySN() {
    // One text for the life of the process: the statement cache knows it by its address.
    static const QByteArray select = [] {
        QByteArrayList names;
        for (const Column& column : kColumns) names << column.name;
        return "select " + names.join(',') + " from " + kTable + " where " + keyName() + "=?";
    }();
    return select.constData();
}

const std::vector<int>& DeviceColumns::selectBySNPositions() {
    static const std::vector<int> positions = [] {
        std::vector<int> out;
        for (int i = 0; i < kColumnCount; ++i) out.push_back(i);
        return out;
    }();
    return positions;
}

void DeviceColumns::readRaw(sqlite3_stmt* stmt, struDeviceInfo& d) {
    for (int i = 0; i < kColumnCount; ++i) {
        const Column& column = kColumns[i];
        switch (column.type) {
            case Type::Integer:
                d.*column.integer = rawInt(stmt, i);
                break;
            case Type::Text:
                d.*column.text = rawText(stmt, i);
                break;
            case Type::Flag:
                d.*column.flag = rawBool(stmt, i);
                break;
        }
    }
}

int DeviceColumns::count() {
    return kColumnCount;
}

const char* DeviceColumns::name(int column) {
    return kColumns[column].name;
}

ColumnKind DeviceColumns::kind(int column) {
    switch (kColumns[column].type) {
        case Type::Integer:
            return ColumnKind::Integer;
        case Type::Text:
            return ColumnKind::Text;
        case Type::Flag:
            break;
    }
    return ColumnKind::Flag;
}

int DeviceColumns::indexOf(const QString& name) {
    for (int i = 0; i < kColumnCount; ++i)
        if (name == QLatin1String(kColumns[i].name)) return i;
    return -1;
}

QVariant DeviceColumns::value(const struDeviceInfo& d, int column) {
    const Column& c = kColumns[column];
    switch (c.type) {
        case Type::Integer:
            return d.*c.integer;
        case Type::Text:
            return d.*c.text;
        case Type::Flag:
            break;
    }
    return d.*c.flag;
}

std::vector<int> DeviceColumns::positions(const QSqlRecord& record) {
    // One pass over the result's columns: QSqlRecord::indexOf per column costs a scan each.
    // PostgreSQL names them in lower case.
    static const QHash<QString, int> byName = [] {
        QHash<QString, int> out;
        for (int i = 0; i < kColumnCount; ++i)
            out.insert(QString::fromLatin1(kColumns[i].name).toLower(), i);
        return out;
    }();
    std::vector<int> out(kColumnCount, -1);
    for (int i = 0; i < record.count(); ++i) {
        const auto column = byName.constFind(record.fieldName(i).toLower());
        if (column != byName.constEnd()) out[static_cast<size_t>(column.value())] = i;
    }
    return out;
}

void DeviceColumns::read(const QSqlQuery& query, const std::vector<int>& positions,
                         struDeviceInfo& d) {
    for (int i = 0; i < kColumnCount; ++i) {
        const Column& column = kColumns[i];
        const QVariant value = query.value(positions[static_cast<size_t>(i)]);
        switch (column.type) {
            case Type::Integer:
                d.*column.integer = value.toInt();
                break;
            case Type::Text:
                d.*column.text = value.toString();
                break;
            case Type::Flag:
                d.*column.flag = value.toBool();
                break;
        }
    }
}
