#pragma once

#include <QList>
#include <QString>

#include "db/RecordColumns.h"
#include "model/struApiToken.h"

// Tab_ApiToken: the API tokens of scripts, found by the hash of their secret. Holds no state.
class Tab_ApiToken {
  public:
    static const RecordColumns<struApiToken>& columns();

    // Fills token.id on success; false also for a name that exists.
    bool insertToken(struApiToken& token);
    bool getTokenByHash(const QString& tokenHash, struApiToken& token);
    bool getTokenById(qint64 id, struApiToken& token);
    bool getAllTokens(QList<struApiToken>& tokens);
    bool touchToken(qint64 id, qint64 lastUsedAt);
    bool deleteToken(qint64 id);
    bool deleteAccountTokens(qint64 accountId);
};
