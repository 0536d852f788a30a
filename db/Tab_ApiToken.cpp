#include "db/Tab_ApiToken.h"

#include "db/SqlStatement.h"

namespace {
bool selectOne(const QString& where, const QVariant& key, struApiToken& token) {
    SqlStatement query(Tab_ApiToken::columns().select(QStringLiteral("where %1=:key").arg(where)));
    query.bind(QStringLiteral(":key"), key);
    if (!query.exec() || !query.next()) return false;
    query.readRow(Tab_ApiToken::columns(), token);
    return true;
}
}  // namespace

const RecordColumns<struApiToken>& Tab_ApiToken::columns() {
    using A = struApiToken;
    static const RecordColumns<A> columns("Tab_ApiToken", {{"id", &A::id, kKey | kAssigned},
                                                           {"name", &A::name},
                                                           {"role", &A::role},
                                                           {"tokenHash", &A::tokenHash},
                                                           {"createdBy", &A::createdBy},
                                                           {"accountId", &A::accountId},
                                                           {"createdAt", &A::createdAt},
                                                           {"expiresAt", &A::expiresAt},
                                                           {"lastUsedAt", &A::lastUsedAt}});
    return columns;
}

bool Tab_ApiToken::insertToken(struApiToken& token) {
    SqlStatement insert(columns().insert() + QStringLiteral(" on conflict do nothing"));
    insert.bindRow(columns(), token);
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
    SqlStatement query(columns().select(QStringLiteral("order by id")));
    if (!query.exec()) return false;
    tokens.clear();
    while (query.next()) {
        struApiToken token;
        query.readRow(columns(), token);
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
