#include "db/Tab_Session.h"

#include "db/SqlStatement.h"

const RecordColumns<struSession>& Tab_Session::columns() {
    using S = struSession;
    static const RecordColumns<S> columns("Tab_Session", {{"idHash", &S::idHash, kKey},
                                                          {"accountId", &S::accountId},
                                                          {"csrfToken", &S::csrfToken},
                                                          {"createdAt", &S::createdAt},
                                                          {"lastSeenAt", &S::lastSeenAt}});
    return columns;
}

bool Tab_Session::insertSession(const struSession& session) {
    SqlStatement insert(columns().insert());
    insert.bindRow(columns(), session);
    return insert.exec();
}

bool Tab_Session::getSession(const QString& idHash, struSession& session) {
    SqlStatement query(columns().select(QStringLiteral("where idHash=:id")));
    query.bind(QStringLiteral(":id"), idHash);
    if (!query.exec() || !query.next()) return false;
    query.readRow(columns(), session);
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
