#pragma once

#include <string>

#include <QString>

#include "download/DownloadServer.h"

// The download port's files by the package table: a download path names the current package
// stored under the package directory at that relative path, served while its file is still as
// uploaded. Any instance sharing the database and the package directory serves what any other
// offered; a replaced or deleted package is no longer served.
class PackageFileResolver {
  public:
    explicit PackageFileResolver(const QString& packageDir);

    DownloadServer::Lookup operator()(const std::string& path, DownloadServer::Served& file) const;
    // The stored hex SHA-256 of the current package whose file is at filePath while that file is
    // as uploaded; empty otherwise.
    static QString storedDigest(const QString& filePath);

  private:
    QString m_packageDir;
};
