#include "upgrade/UpgradeRules.h"

#include <atomic>

#include <QDir>

#include "core/Logger.h"
#include "model/ComponentVersions.h"

namespace {
bool isAsciiDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

QString leadingDigits(const QString& text) {
    int n = 0;
    while (n < text.size() && isAsciiDigit(text.at(n))) ++n;
    return text.left(n);
}

int sign(int value) {
    return value < 0 ? -1 : (value > 0 ? 1 : 0);
}

// Non-negative integers written as digit strings of any length (none: 0). Comparing the texts
// keeps segments of any width exact, where a fixed-size integer would overflow.
int compareIntegers(QString a, QString b) {
    while (a.startsWith(QLatin1Char('0'))) a.remove(0, 1);
    while (b.startsWith(QLatin1Char('0'))) b.remove(0, 1);
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    return sign(QString::compare(a, b));
}

// The last segments are read as a number with an optional fraction, so "3.1" against "3" is
// newer and "3.0" equals "3".
int compareDecimals(const QString& a, const QString& b) {
    const QString intA = leadingDigits(a);
    const QString intB = leadingDigits(b);
    const int byInteger = compareIntegers(intA, intB);
    if (byInteger != 0) return byInteger;
    auto fraction = [](const QString& text, int at) {
        if (at >= text.size() || text.at(at) != QLatin1Char('.')) return QString();
        QString digits = leadingDigits(text.mid(at + 1));
        while (digits.endsWith(QLatin1Char('0'))) digits.chop(1);
        return digits;
    };
    return sign(QString::compare(fraction(a, intA.size()), fraction(b, intB.size())));
}

int compareVersionParts(QString a, QString b) {
    const QChar dot = QLatin1Char('.');
    while (a.contains(dot) && b.contains(dot)) {
        const int da = a.indexOf(dot);
        const int db = b.indexOf(dot);
        const int bySegment = compareIntegers(leadingDigits(a.left(da)), leadingDigits(b.left(db)));
        if (bySegment != 0) return bySegment;
        a = a.mid(da + 1);
        b = b.mid(db + 1);
    }
    return compareDecimals(a, b);
}

// Everything between the leading letter and "build".
QString versionPart(const QString& text, int buildAt) {
    return buildAt < 0 ? text.mid(1) : text.mid(1, qMax(0, buildAt - 1));
}

// The 6-character build date after "build" (positions 4..9 when "build" is absent).
int buildDate(const QString& text, int buildAt) {
    return leadingDigits(text.mid(buildAt + 5, 6)).toInt();
}

std::atomic<quint64> g_urlCount{0};
}  // namespace

int CompareVersion(const QString& p, const QString& d) {
    if (p.isEmpty() || d.isEmpty()) return -1;
    const QString build = QStringLiteral("build");
    const int ip = p.indexOf(build);
    const int id = d.indexOf(build);
    const int byVersion = compareVersionParts(versionPart(p, ip), versionPart(d, id));
    if (byVersion != 0) return byVersion;
    if (p.size() >= ip + 11 && d.size() >= id + 11)
        return buildDate(p, ip) > buildDate(d, id) ? 1 : 0;
    return 0;
}

bool packageHasNewerComponent(const struDeviceInfo& device, const struPackageInfo& package) {
    for (const ComponentVersion& component : kComponentVersions) {
        const QString& packageVersion = package.*component.package;
        if (!packageVersion.isEmpty() &&
            CompareVersion(packageVersion, device.*component.device) > 0)
            return true;
    }
    return false;
}

QString GetPackageUrl(const QString& packagePath, const QString& packageDir, const QString& netIP,
                      int httpPort2) {
    const QString url = PackageUrl(packagePath, packageDir, netIP, httpPort2);
    const quint64 count = ++g_urlCount;
    getLogger("TcpDataMgtApi")
        ->info("{}, 第{}设备获取升级包下载地址：{}", "TcpDataMgtApi::GetPackageUrl", count,
               url.toStdString());
    return url;
}

QString PackageUrl(const QString& packagePath, const QString& packageDir, const QString& netIP,
                   int httpPort2) {
    const QString relative = QDir::fromNativeSeparators(packagePath.mid(packageDir.size()));
    return QStringLiteral("http://") + netIP + QLatin1Char(':') + QString::number(httpPort2) +
           QStringLiteral("/KORVA/dlPackage") + relative;
}
