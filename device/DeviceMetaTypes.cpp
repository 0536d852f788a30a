#include "device/DeviceMetaTypes.h"

#include <QByteArray>
#include <QMetaType>
#include <QString>

void registerDeviceLinkMetaTypes() {
    qRegisterMetaType<qintptr>("qintptr");
    qRegisterMetaType<quint16>("quint16");
    qRegisterMetaType<QByteArray>("QByteArray");
    qRegisterMetaType<QString>("QString");
}
