#pragma once

#include <QString>

// Who may call a route, lowest first; a caller holds one role and may call every route at or
// below it. Public routes need no login.
enum class Role { Public = 0, Viewer = 1, Operator = 2, Admin = 3 };

const char* roleName(Role role);
// "viewer", "operator" or "admin"; false for anything else.
bool roleFromName(const QString& name, Role& role);
