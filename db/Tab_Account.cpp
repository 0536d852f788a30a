#include "db/Tab_Account.h"

#include "db/SqlStatement.h"

namespace {
bool selectOne(const QString& where, const QVariant& key, struAccount& account) {
    SqlStatement query(Tab_Account::columns().select(QStringLiteral("where %1=:key").arg(where)));
    query.bind(QStringLiteral(":key"), key);
    if (!query.exec() || !query.next()) return false;
    query.readRow(Tab_Account::columns(), account);
    return true;
}

bool changeOne(SqlStatement& statement, qint64 id) {
    statement.bind(QStringLiteral(":id"), id);
    return statement.exec() && statement.rowsAffected() > 0;
}
}  // namespace

const RecordColumns<struAccount>& Tab_Account::columns() {
    using A = struAccount;
    static const RecordColumns<A> columns("Tab_Account",
                                          {{"id", &A::id, kKey | kAssigned},
                                           {"name", &A::name},
                                           {"role", &A::role},
                                           {"passwordHash", &A::passwordHash},
                                           {"mustChangePassword", &A::mustChangePassword},
                                           {"createdAt", &A::createdAt}});
    return columns;
}

bool Tab_Account::insertAccount(struAccount& account) {
    SqlStatement insert(columns().insert() + QStringLiteral(" on conflict do nothing"));
    insert.bindRow(columns(), account);
    if (!insert.exec() || insert.rowsAffected() == 0) return false;
    account.id = insert.lastInsertId();
    return true;
}

bool Tab_Account::getAccountByName(const QString& name, struAccount& account) {
    return selectOne(QStringLiteral("name"), name, account);
}

bool Tab_Account::getAccountById(qint64 id, struAccount& account) {
    return selectOne(QStringLiteral("id"), id, account);
}

bool Tab_Account::nameTaken(const QString& name) {
    SqlStatement query(
        QStringLiteral("select count(*) as n from Tab_Account where lower(name)=lower(:name)"));
    query.bind(QStringLiteral(":name"), name);
    return !query.exec() || !query.next() || query.value("n").toInt() > 0;
}

bool Tab_Account::getAllAccounts(QList<struAccount>& accounts) {
    SqlStatement query(columns().select(QStringLiteral("order by name")));
    if (!query.exec()) return false;
    accounts.clear();
    while (query.next()) {
        struAccount account;
        query.readRow(columns(), account);
        accounts.append(account);
    }
    return true;
}

bool Tab_Account::updateRole(qint64 id, const QString& role) {
    SqlStatement update(QStringLiteral("update Tab_Account set role=:role where id=:id"));
    update.bind(QStringLiteral(":role"), role);
    return changeOne(update, id);
}

bool Tab_Account::updatePassword(qint64 id, const QString& passwordHash, bool mustChange) {
    SqlStatement update(QStringLiteral(
        "update Tab_Account set passwordHash=:hash,mustChangePassword=:must where id=:id"));
    update.bind(QStringLiteral(":hash"), passwordHash)
        .bind(QStringLiteral(":must"), mustChange ? 1 : 0);
    return changeOne(update, id);
}

bool Tab_Account::deleteAccount(qint64 id) {
    SqlStatement remove(QStringLiteral("delete from Tab_Account where id=:id"));
    return changeOne(remove, id);
}

int Tab_Account::countAccounts(const QString& role) {
    SqlStatement query(
        QStringLiteral("select count(*) as n from Tab_Account where :role='' or role=:role2"));
    query.bind(QStringLiteral(":role"), role).bind(QStringLiteral(":role2"), role);
    if (!query.exec() || !query.next()) return -1;
    return query.value("n").toInt();
}
