#pragma once

#include <QString>

struct Caller;

// The one way any handler records a change in the audit trail: who (account or token), from
// where, by which route, what, and a short summary. A failed write is logged and does not fail
// the change it describes.
//
// Actions in use: login, login_failed, logout, password_change, package_upload, package_delete,
// device_edit, device_import, forced_upgrade_clear, account_create, account_update,
// account_delete, token_create, token_revoke, pin_release, rollout_plan_set, rollout_resume,
// rollout_advance, rollout_cancel; by the service itself (account "system"): rollout_pause,
// rollout_advance, rollout_restart.
class AuditLog {
  public:
    static void record(const Caller& caller, const QString& address, const QString& route,
                       const QString& action, const QString& summary);
    // For a login or failed login, where the one acting is only the name that was typed.
    static void recordAs(const QString& account, const QString& address, const QString& route,
                         const QString& action, const QString& summary);
    // For what the service did by itself: account "system", no address or route.
    static void recordSystem(const QString& action, const QString& summary);
};
