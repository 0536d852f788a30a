#include "files/PathGuard.h"

#include <QDir>
#include <QFileInfo>

bool isPlainName(const QString& name) {
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) &&
           !name.contains(QLatin1Char('\\')) && !name.contains(QChar(0)) &&
           name != QLatin1String(".") && name != QLatin1String("..");
}

QString safePathComponent(const QString& name) {
    if (name.isEmpty()) return QStringLiteral("%");
    if (name == QLatin1String(".")) return QStringLiteral("%2E");
    if (name == QLatin1String("..")) return QStringLiteral("%2E%2E");
    QString out;
    out.reserve(name.size());
    for (const QChar c : name) {
        const ushort u = c.unicode();
        const bool control = u < 0x20 || (u >= 0x7F && u < 0xA0);
        if (control || c == QLatin1Char('%') || c == QLatin1Char('/') || c == QLatin1Char('\\'))
            out += QStringLiteral("%%1").arg(u, 2, 16, QLatin1Char('0')).toUpper();
        else
            out += c;
    }
    return out;
}

bool isInsideDirectory(const QString& path, const QString& dir) {
    const QString root = QFileInfo(dir).canonicalFilePath();
    if (root.isEmpty()) return false;
    QString rest;
    QString existing = QDir::cleanPath(QDir::fromNativeSeparators(path));
    // Walk up to the nearest existing ancestor; the remainder must not climb.
    while (!existing.isEmpty() && !QFileInfo::exists(existing)) {
        const int slash = existing.lastIndexOf(QLatin1Char('/'));
        if (slash < 0) return false;
        rest.prepend(existing.mid(slash));
        existing.truncate(slash);
    }
    if (rest.contains(QLatin1String("/../")) || rest.endsWith(QLatin1String("/.."))) return false;
    const QString canonical = QFileInfo(existing).canonicalFilePath() + rest;
    return canonical.startsWith(root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/'));
}
