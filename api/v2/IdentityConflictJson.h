#pragma once

#include <QJsonObject>

#include "api/auth/Role.h"
#include "model/struIdentityConflict.h"

// A terminal's last refused impostor in the v2 documents, its device ID as the role may read it.
class IdentityConflictJson {
  public:
    static QJsonObject row(const struIdentityConflict& conflict, Role role);
    // The "IdentityConflict" schema, by name.
    static QJsonObject schemas();
};
