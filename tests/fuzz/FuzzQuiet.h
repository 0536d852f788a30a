#pragma once

#include <QtGlobal>

// The parsers log every refusal on the Qt debug channel; at fuzzing rates that output would
// dominate the run, so it is dropped.
inline void silenceQtMessages() {
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
}
