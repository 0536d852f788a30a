#include "api/v2/DeviceEventNote.h"

#include <QDateTime>

#include "db/Tab_DeviceEvent.h"

void noteEvent(const ApiRequest& request, const QString& devSN, const char* kind,
               const QString& detail) {
    struDeviceEvent event;
    event.devSN = devSN;
    event.at = static_cast<qint32>(QDateTime::currentSecsSinceEpoch());
    event.kind = QLatin1String(kind);
    const QString by = request.account.isEmpty() ? QString() : request.account + QLatin1Char(' ');
    event.detail = by + detail;
    Tab_DeviceEvent::record(event);
}
