#pragma once

#include <QByteArray>
#include <QString>

// Appends "[time] prefix: hex " to <working dir>/Logs/Log-<yyyy-MM-dd>.txt; one line per call,
// lines from different threads never interleave. Failures are ignored.
void writeDataLog(const QString& prefix, const QByteArray& data);
