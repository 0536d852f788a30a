#include "db/Tab_ApiToken.h"

#include "db/SqlStatement.h"

namespace {
const QString kSelect = QStringLiteral(
    "select id,name,role,tokenHash,createdBy,accountId,createdAt,expiresAt,lastUsedAt "
    "from Tab_ApiToken ");

void readToken(const SqlStatement& row, struApiToken& token) {
    token.id = row.value("id").toLongLong();
    token.name = row.value("name").toString();
    token.role = row.value("role").toString();
    token.tokenHash = row.value("tokenHash").toString();
    token.createdBy = row.value("createdBy").toString();
    token.accountId = row.value("accountId").toLongLong();
    token.createdAt = row.value("createdAt").toLongLong();
    token.expiresAt = row.value("expiresAt").toLongLong();
    token.lastUsedAt = row.value("lastUsedAt").toLongLong();
}

bool selectOne(const QString& where, const QVariant& key, struApiToken& token) {
    SqlStatement query(kSelect + QStringLiteral("where %1=:key").arg(where));
    query.bind(QStringLiteral(":key"), key);
    if (!query.exec() || !query.next()) return false;
    readToken(query, token);
    return true;
}
}  // namespace

bool Tab_ApiToken::insertToken(struApiToken& token) {
    SqlStatement insert(
        QStringLiteral("insert or ignore into "
                       "Tab_ApiToken(name,role,tokenHash,createdBy,accountId,createdAt,expiresAt,"
                       "lastUsedAt) values(:name,:role,:hash,:by,:account,:created,:expires,0)"),
        QStringLiteral("insert into "
                       "Tab_ApiToken(name,role,tokenHash,createdBy,accountId,createdAt,expiresAt,"
                       "lastUsedAt) values(:name,:role,:hash,:by,:account,:created,:expires,0) "
                       "on conflict do nothing"));
    insert.bind(QStringLiteral(":name"), token.name)
        .bind(QStringLiteral(":role"), token.role)
        .bind(QStringLiteral(":hash"), token.tokenHash)
        .bind(QStringLiteral(":by"), token.createdBy)
        .bind(QStringLiteral(":account"), token.accountId)
        .bind(QStringLiteral(":created"), token.createdAt)
        .bind(QStringLiteral(":expires"), token.expiresAt);
    if (!insert.exec() || insert.rowsAffected() == 0) return false;
    token.id = insert.lastInsertId();
    return true;
}

bool Tab_ApiToken::getTokenByHash(const QString& tokenHash, struApiToken& token) {
    return selectOne(QStringLiteral("tokenHash"), tokenHash, token);
}

bool Tab_ApiToken::getTokenById(qint64 id, struApiToken& token) {
    return selectOne(QStringLiteral("id"), id, token);
}

bool Tab_ApiToken::getAllTokens(QList<struApiToken>& tokens) {
    SqlStatement query(kSelect + QStringLiteral("order by id"));
    if (!query.exec()) return false;
    tokens.clear();
    while (query.next()) {
        struApiToken token;
        readToken(query, token);
        tokens.append(token);
    }
    return true;
}

bool Tab_ApiToken::touchToken(qint64 id, qint64 lastUsedAt) {
    SqlStatement update(QStringLiteral("update Tab_ApiToken set lastUsedAt=:used where id=:id"));
    update.bind(QStringLiteral(":used"), lastUsedAt).bind(QStringLiteral(":id"), id);
    return update.exec();
}

bool Tab_ApiToken::deleteToken(qint64 id) {
    SqlStatement remove(QStringLiteral("delete from Tab_ApiToken where id=:id"));
    remove.bind(QStringLiteral(":id"), id);
    return remove.exec() && remove.rowsAffected() > 0;
}

bool Tab_ApiToken::deleteAccountTokens(qint64 accountId) {
    SqlStatement remove(QStringLiteral("delete from Tab_ApiToken where accountId=:account"));
    remove.bind(QStringLiteral(":account"), accountId);
    return remove.exec();
}
