#pragma once

#include "core/AppDir.h"
#include "core/LocalParaMgt.h"
#include "core/MetricsRegistry.h"
#include "device/DeviceActivity.h"
#include "device/ReportWriteQueue.h"
#include "device/TcpDataMgtApi.h"
#include "device/TerminalMetrics.h"
#include "device/UpgradeMetrics.h"
#include "files/FileOperation.h"

// The terminal message handler as the service builds it, over the parameters of the test's
// config.ini, with everything it works with.
struct TerminalHandlerParts {
    static struLocalParam configured() {
        struLocalParam param;
        LocalParaMgt(applicationDirectory()).readLocalParam(param);
        return param;
    }

    const struLocalParam param = configured();
    MetricsRegistry registry;
    TerminalMetrics terminalMetrics{registry};
    UpgradeMetrics upgradeMetrics{registry};
    FileOperation files;
    ReportWriteQueue writes{registry};
    DeviceActivity activity{param.InstanceName, upgradeMetrics, writes};
    TcpDataMgtApi handler{param, terminalMetrics, activity, files};
};
