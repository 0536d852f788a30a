#include "web/PackageFileResolver.h"

#include <QDebug>
#include <QDir>

#include "db/Tab_Package.h"
#include "files/PackageFileCheck.h"

namespace {
const std::string kPrefix = "/KORVA/dlPackage/";
}

PackageFileResolver::PackageFileResolver(const QString& packageDir) : m_packageDir(packageDir) {}

DownloadServer::Lookup PackageFileResolver::operator()(const std::string& path,
                                                       DownloadServer::Served& file) const {
    // The path comes with "." and ".." resolved; an exact match on a stored path leaves no way
    // out of the package directory.
    if (path.compare(0, kPrefix.size(), kPrefix) != 0 || path.size() == kPrefix.size())
        return DownloadServer::Lookup::NotFound;
    const QString relative = QString::fromStdString(path.substr(kPrefix.size() - 1));
    const QString stored = m_packageDir + QDir::toNativeSeparators(relative);
    struPackageInfo package;
    bool found = false;
    if (!Tab_Package().getPackageByPath(stored, package, found)) {
        {
            std::lock_guard<std::mutex> lock(m_remembered->mutex);
            const auto known = m_remembered->byPath.constFind(stored);
            found = known != m_remembered->byPath.constEnd();
            if (found) package = known.value();
        }
        if (found) return serve(package, file);
        qDebug("[PackageFileResolver] the package table could not be read");
        return DownloadServer::Lookup::Failed;
    }
    std::lock_guard<std::mutex> lock(m_remembered->mutex);
    if (!found) {
        m_remembered->byPath.remove(stored);
        return DownloadServer::Lookup::NotFound;
    }
    if (m_remembered->byPath.size() >= kRemembered && !m_remembered->byPath.contains(stored))
        m_remembered->byPath.erase(m_remembered->byPath.begin());
    m_remembered->byPath.insert(stored, package);
    return serve(package, file);
}

DownloadServer::Lookup PackageFileResolver::serve(const struPackageInfo& package,
                                                  DownloadServer::Served& file) const {
    if (PackageFileCheck::of(package) != PackageFileCheck::State::Intact)
        return DownloadServer::Lookup::NotFound;
    file.path = QDir::fromNativeSeparators(package.packagePath).toStdString();
    file.digest = package.sha256.toStdString();
    return DownloadServer::Lookup::Found;
}

QString PackageFileResolver::storedDigest(const QString& filePath) {
    struPackageInfo package;
    bool found = false;
    if (!Tab_Package().getPackageByPath(filePath, package, found) || !found ||
        PackageFileCheck::of(package) != PackageFileCheck::State::Intact)
        return QString();
    return package.sha256;
}
