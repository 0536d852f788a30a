#include "db/Tab_IdentityConflict.h"

const RecordColumns<struIdentityConflict>& Tab_IdentityConflict::columns() {
    using C = struIdentityConflict;
    static const RecordColumns<C> columns("Tab_IdentityConflict",  // one row per terminal
                                          {{"devSN", &C::devSN, kKey},
                                           {"conflictAt", &C::conflictAt},
                                           {"devId", &C::devId},
                                           {"address", &C::address}});
    return columns;
}

bool Tab_IdentityConflict::record(const struIdentityConflict& conflict) {
    return KeyedRecord::put(columns(), conflict, "write identity conflict fail");
}

Tab_IdentityConflict::Result Tab_IdentityConflict::get(const QString& devSN,
                                                       struIdentityConflict& conflict) {
    return KeyedRecord::get(columns(), "devSN", devSN, conflict, "query identity conflict fail");
}
