#include "upgrade/rollout/RolloutBucket.h"

#include <QCryptographicHash>

#include "model/struRolloutPlan.h"

int rolloutBucket(const struPackageInfo& package, const QString& devSN) {
    const QByteArray key = QByteArray::number(package.id) + '\n' + package.packageName.toUtf8() +
                           '\n' + devSN.toUtf8();
    const QByteArray digest = QCryptographicHash::hash(key, QCryptographicHash::Sha256);
    quint64 value = 0;
    for (int i = 0; i < 8; ++i) value = (value << 8) | static_cast<quint8>(digest.at(i));
    return static_cast<int>(value % kRolloutBuckets);
}
