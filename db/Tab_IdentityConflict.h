#pragma once

#include <QString>

#include "db/KeyedRecord.h"
#include "db/RecordColumns.h"
#include "model/struIdentityConflict.h"

// Tab_IdentityConflict: each pinned terminal's last refused impostor. Holds no state; every
// operation borrows a pooled connection.
class Tab_IdentityConflict {
  public:
    using Result = KeyedRecord::Result;

    static const RecordColumns<struIdentityConflict>& columns();

    static bool record(const struIdentityConflict& conflict);
    static Result get(const QString& devSN, struIdentityConflict& conflict);
};
