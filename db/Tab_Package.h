#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include "db/RecordColumns.h"
#include "model/struPackageInfo.h"

// Tab_Package: one row per upgrade package, one current package per device type. Holds no
// state; every operation borrows a pooled connection for its statement.
class Tab_Package : public QObject {
    Q_OBJECT
  public:
    explicit Tab_Package(QObject* parent = nullptr) : QObject(parent) {}

    static const RecordColumns<struPackageInfo>& columns();

    bool insertPackage(const struPackageInfo& package);
    // Overwrites the row of package.deviceType; the row keeps its id.
    bool updatePackageByType(const struPackageInfo& package);
    bool getPackageById(qint32 id, struPackageInfo& package);
    // The device type is matched without surrounding white space.
    bool getPackageByType(const QString& deviceType, struPackageInfo& package);
    bool getAllPackages(QList<struPackageInfo>& packages);
    // The current package stored at exactly that path; false when the lookup failed, found
    // tells whether there is one.
    bool getPackageByPath(const QString& packagePath, struPackageInfo& package, bool& found);
    bool deletePackage(qint32 id);
};
