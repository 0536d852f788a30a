#include "api/auth/InitialAdmin.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdio>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QUuid>

#include "api/auth/PasswordHasher.h"
#include "api/auth/Secrets.h"
#include "core/LocalParaMgt.h"
#include "core/struLocalParam.h"
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
    struLocalParam param;
    LocalParaMgt(appDir).readLocalParam(param);
    if (!param.InitialPasswordFile.isEmpty()) return param.InitialPasswordFile;
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
    // Written beside its place first and moved there only by the instance whose account was
    // inserted, so that a file in a shared place always holds the password that opens it.
    const QString path = filePath(appDir);
    const QString pending = path + QLatin1Char('.') + QUuid::createUuid().toString(QUuid::Id128);
    if (!writePrivate(pending, password.toUtf8() + '\n')) return Result::Failed;
    if (!accounts.insertAccount(admin)) {
        QFile::remove(pending);
        return accounts.countAccounts() > 0 ? Result::Existing : Result::Failed;
    }
    if (std::rename(QFile::encodeName(pending).constData(), QFile::encodeName(path).constData()) !=
        0)
        return Result::Failed;
    return Result::Created;
}

void InitialAdmin::passwordChanged(const QString& appDir, const QString& accountName) {
    if (accountName == QLatin1String(kAccountName)) QFile::remove(filePath(appDir));
}
