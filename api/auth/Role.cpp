#include "api/auth/Role.h"

const char* roleName(Role role) {
    switch (role) {
        case Role::Public:
            return "public";
        case Role::Viewer:
            return "viewer";
        case Role::Operator:
            return "operator";
        case Role::Admin:
            return "admin";
    }
    return "public";
}

bool roleFromName(const QString& name, Role& role) {
    for (Role candidate : {Role::Viewer, Role::Operator, Role::Admin}) {
        if (name == QLatin1String(roleName(candidate))) {
            role = candidate;
            return true;
        }
    }
    return false;
}
