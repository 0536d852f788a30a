#pragma once

#include "api/v2/ApiRoute.h"
#include "model/struPackageInfo.h"

// The upgrade packages and their files.
ApiGroup packageRoutes();

// The package with that id; false with the 404 reply otherwise.
bool storedPackage(const QString& id, struPackageInfo& package, ApiReply& failure);
// Its file is there, inside the package store packageDir.
bool packageFileStored(const struPackageInfo& package, const QString& packageDir);
