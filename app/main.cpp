// The service's entry point: the start-up sequence, then the event loop.
#include <cstdio>

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QHostAddress>
#include <QThreadPool>
#include <QtConcurrent>

#include "core/AppDir.h"
#include "core/ConsoleControl.h"
#include "core/CrashHandler.h"
#include "core/LocalParaMgt.h"
#include "core/Logger.h"
#include "core/OpenFileLimit.h"
#include "db/DbSchema.h"
#include "device/OrbTcpServer.h"
#include "device/TcpDataMgtApi.h"
#include "files/FileOperation.h"
#include "web/EmbeddedWebServer.h"
#include "web/WebServer.h"

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(WAYFARER_VERSION));

    if (!initLogger("WFSLog")) {
        std::fprintf(stderr, "Wayfarer: cannot open the log file; the service does not start.\n");
        return 1;
    }

    const QString dumpDir = QDir::toNativeSeparators(QDir::cleanPath(
        applicationDirectory() + QDir::separator() + QStringLiteral("ExceptionDump")));
    QDir().mkpath(dumpDir);
    if (!installCrashHandler(dumpDir)) {
        std::fprintf(stderr, "Wayfarer: Wayfarer崩溃捕获模块失败。\n");
        qDebug() << "【崩溃捕获】申请内存失败";
    }

    QThreadPool::globalInstance()->setMaxThreadCount(100);

    struLocalParam param;
    LocalParaMgt* paraMgt = LocalParaMgt::instance();
    paraMgt->readLocalParam(param);
    paraMgt->writeLocalParam(param);

    const OpenFileLimit files = raiseOpenFileLimit();
    if (files.soft > 0 && files.soft < openFilesWanted(param.MaxConnCount))
        qDebug().nospace() << "[start] open file limit " << files.soft << " is too low for "
                           << param.MaxConnCount << " terminal connections";

    if (!DbSchema::ensure()) {
        std::fprintf(stderr,
                     "Wayfarer: cannot open or prepare the database WFS.db; the service does "
                     "not start.\n");
        return 1;
    }

    // The exchange directory only ever holds this run's exports and imports.
    const QString excelDir = param.ExcelDir;
    QtConcurrent::run([excelDir] { FileOperation::instance()->removeFolderContent(excelDir); });

    // Uploads broken off long ago leave their temporary files; a recent one may still go on.
    FileOperation::instance()->RemoveStaleUploads(param.PackageDir, 3600);

    if (!EmbeddedWebServer::instance()->start(static_cast<uint32_t>(param.HttpPort2)))
        qDebug().nospace() << "[start] Download server start failed! " << param.HttpPort2;

    WebServer webServer;
    webServer.setThreadCount(10);
    webServer.setWebRoot(applicationDirectory() + QStringLiteral("/Web"));
    webServer.setDefaultPage(QStringLiteral("index.asp"));
    webServer.start(param.ListenIP, static_cast<quint16>(param.HttpPort));

    // Upgrade answers bind their package download in the download server.
    TcpDataMgtApi::instance()->setUrlBinder([](const QString& url, const QString& path) {
        EmbeddedWebServer::instance()->bindUrl(url.toStdString(), path.toStdString());
    });
    OrbTcpServer tcpServer;
    if (tcpServer.listenDeep(QHostAddress(param.ListenIP), static_cast<quint16>(param.TcpPort)))
        qDebug().nospace() << "[start] Tcp Server start OK! " << param.TcpPort;
    else
        qDebug().nospace() << "[start] Tcp Server start failed! " << param.TcpPort;

    installConsoleControlHandler();
    releaseLoggers();
    return app.exec();
}
