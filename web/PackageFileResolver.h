#pragma once

#include <memory>
#include <mutex>
#include <string>

#include <QHash>
#include <QString>

#include "model/struPackageInfo.h"

#include "download/DownloadServer.h"

// The download port's files by the package table: a download path names the current package
// stored under the package directory at that relative path, served while its file is still as
// uploaded. Any instance sharing the database and the package directory serves what any other
// offered; a replaced or deleted package is no longer served. While the table cannot be read
// (the database is away) the packages this resolver last found are served still, as long as
// their files are as uploaded. Copies share what they remember.
class PackageFileResolver {
  public:
    explicit PackageFileResolver(const QString& packageDir);

    DownloadServer::Lookup operator()(const std::string& path, DownloadServer::Served& file) const;
    // The stored hex SHA-256 of the current package whose file is at filePath while that file is
    // as uploaded; empty otherwise.
    static QString storedDigest(const QString& filePath);

    // Bounds the memory; a fleet has a handful of current packages.
    static constexpr int kRemembered = 256;

  private:
    struct Remembered {
        std::mutex mutex;
        QHash<QString, struPackageInfo> byPath;  // by stored path
    };
    DownloadServer::Lookup serve(const struPackageInfo& package,
                                 DownloadServer::Served& file) const;

    QString m_packageDir;
    std::shared_ptr<Remembered> m_remembered = std::make_shared<Remembered>();
};
