#include "db/Tab_Session.h"

#include "db/SqlStatement.h"

bool Tab_Session::insertSession(const struSession& session) {
    SqlStatement insert(
        QStringLiteral("insert into Tab_Session(idHash,accountId,csrfToken,createdAt,lastSeenAt) "
                       "values(:id,:account,:csrf,:created,:seen)"));
    insert.bind(QStringLiteral(":id"), session.idHash)
        .bind(QStringLiteral(":account"), session.accountId)
        .bind(QStringLiteral(":csrf"), session.csrfToken)
        .bind(QStringLiteral(":created"), session.createdAt)
        .bind(QStringLiteral(":seen"), session.lastSeenAt);
    return insert.exec();
}

bool Tab_Session::getSession(const QString& idHash, struSession& session) {
    SqlStatement query(
        QStringLiteral("select idHash,accountId,csrfToken,createdAt,lastSeenAt from Tab_Session "
                       "where idHash=:id"));
    query.bind(QStringLiteral(":id"), idHash);
    if (!query.exec() || !query.next()) return false;
    session.idHash = query.value("idHash").toString();
    session.accountId = query.value("accountId").toLongLong();
    session.csrfToken = query.value("csrfToken").toString();
    session.createdAt = query.value("createdAt").toLongLong();
    session.lastSeenAt = query.value("lastSeenAt").toLongLong();
    return true;
}

bool Tab_Session::touchSession(const QString& idHash, qint64 lastSeenAt) {
    SqlStatement update(QStringLiteral("update Tab_Session set lastSeenAt=:seen where idHash=:id"));
    update.bind(QStringLiteral(":seen"), lastSeenAt).bind(QStringLiteral(":id"), idHash);
    return update.exec();
}

bool Tab_Session::deleteSession(const QString& idHash) {
    SqlStatement remove(QStringLiteral("delete from Tab_Session where idHash=:id"));
    remove.bind(QStringLiteral(":id"), idHash);
    return remove.exec();
}

bool Tab_Session::deleteAccountSessions(qint64 accountId, const QString& exceptIdHash) {
    SqlStatement remove(
        QStringLiteral("delete from Tab_Session where accountId=:account and idHash<>:except"));
    remove.bind(QStringLiteral(":account"), accountId)
        .bind(QStringLiteral(":except"), exceptIdHash);
    return remove.exec();
}

bool Tab_Session::deleteIdleSessions(qint64 lastSeenBefore) {
    SqlStatement remove(QStringLiteral("delete from Tab_Session where lastSeenAt<:before"));
    remove.bind(QStringLiteral(":before"), lastSeenBefore);
    return remove.exec();
}
