#pragma once

#include <QString>

// The first start with logins on: while no account exists, an "admin" account is made with a
// random password that must be changed at the first login. The password is handed over in a
// file only the service's user can read, which goes away once it has been changed. Instances
// that start together on one database make one account between them: the others find it.
class InitialAdmin {
  public:
    static constexpr const char* kAccountName = "admin";
    static constexpr const char* kFileName = "initial-admin-password";

    enum class Result { Existing, Created, Failed };
    // Creates the account and the file when there is no account at all.
    static Result ensure(const QString& appDir);
    // InitialPasswordFile of appDir's config.ini, by default kFileName in appDir.
    static QString filePath(const QString& appDir);
    // After the account's own password change: the handed-over password is no longer valid.
    static void passwordChanged(const QString& appDir, const QString& accountName);
};
