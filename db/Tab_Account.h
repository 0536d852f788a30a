#pragma once

#include <QList>
#include <QString>

#include "db/RecordColumns.h"
#include "model/struAccount.h"

// Tab_Account: the operator accounts, one row per name whatever its letter case (see the
// schema step that made it so for the twins kept from before). Holds no state.
class Tab_Account {
  public:
    static const RecordColumns<struAccount>& columns();

    // Fills account.id on success; false also for a name that exists.
    bool insertAccount(struAccount& account);
    bool getAccountByName(const QString& name, struAccount& account);
    bool getAccountById(qint64 id, struAccount& account);
    // Whether an account has this name in any letter case; true when the table cannot be read.
    bool nameTaken(const QString& name);
    bool getAllAccounts(QList<struAccount>& accounts);
    bool updateRole(qint64 id, const QString& role);
    bool updatePassword(qint64 id, const QString& passwordHash, bool mustChange);
    bool deleteAccount(qint64 id);
    // -1 when the table cannot be read.
    int countAccounts(const QString& role = QString());
};
