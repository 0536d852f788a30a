#include "api/auth/InitialAdmin.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>

#include "api/auth/PasswordHasher.h"
#include "api/auth/Secrets.h"
#include "db/Tab_Account.h"

namespace {
// Created with mode 0600 from the start, so that it is never readable by others, not even
// for a moment; an old file left behind is truncated and its mode set again.
bool writePrivate(const QString& path, const QByteArray& text) {
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, 0600) == 0;
    ok = ok && ::write(fd, text.constData(), static_cast<size_t>(text.size())) == text.size();
    ok = ::close(fd) == 0 && ok;
    if (!ok) ::unlink(name.constData());
    return ok;
}
}  // namespace

QString InitialAdmin::filePath(const QString& appDir) {
    return QDir(appDir).filePath(QLatin1String(kFileName));
}

InitialAdmin::Result InitialAdmin::ensure(const QString& appDir) {
    Tab_Account accounts;
    const int count = accounts.countAccounts();
    if (count < 0) return Result::Failed;
    if (count > 0) return Result::Existing;

    const QString password = Secrets::randomPassword(20);
    struAccount admin;
    admin.name = QLatin1String(kAccountName);
    admin.role = QStringLiteral("admin");
    admin.mustChangePassword = true;
    admin.createdAt = QDateTime::currentSecsSinceEpoch();
    if (!PasswordHasher::hash(password, admin.passwordHash)) return Result::Failed;
    const QString path = filePath(appDir);
    if (!writePrivate(path, password.toUtf8() + '\n')) return Result::Failed;
    if (!accounts.insertAccount(admin)) {
        QFile::remove(path);
        return Result::Failed;
    }
    return Result::Created;
}

void InitialAdmin::passwordChanged(const QString& appDir, const QString& accountName) {
    if (accountName == QLatin1String(kAccountName)) QFile::remove(filePath(appDir));
}
