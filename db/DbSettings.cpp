#include "db/DbSettings.h"

#include <QFile>

#include "core/AppDir.h"
#include "core/LocalParaMgt.h"
#include "core/struLocalParam.h"

DbSettings DbSettings::fromConfig() {
    struLocalParam param;
    LocalParaMgt(applicationDirectory()).readLocalParam(param);
    return fromParam(param);
}

DbSettings DbSettings::fromParam(const struLocalParam& param) {
    DbSettings settings;
    settings.driverText = param.DbDriver;
    if (param.DbDriver == QLatin1String("postgresql"))
        settings.driver = Driver::PostgreSQL;
    else if (param.DbDriver != QLatin1String("sqlite"))
        settings.driver = Driver::Unknown;
    settings.host = param.DbHost;
    settings.port = param.DbPort;
    settings.name = param.DbName;
    settings.user = param.DbUser;
    if (!param.DbPasswordFile.isEmpty()) {
        QFile file(param.DbPasswordFile);
        if (file.open(QIODevice::ReadOnly))
            settings.password = QString::fromUtf8(file.readLine()).trimmed();
        else
            settings.passwordUnreadable = true;
    }
    return settings;
}
