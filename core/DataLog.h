#pragma once

#include <QByteArray>
#include <QString>

// The data log keeps the day's current file under its plain name; a file that would grow past
// kDataLogMaxBytes is renamed with its time and a new one begun, and the oldest "Log-*.txt"
// files beyond kDataLogMaxFiles are deleted, so the directory stays bounded.
constexpr qint64 kDataLogMaxBytes = 16 * 1024 * 1024;
constexpr int kDataLogMaxFiles = 20;

// Appends "[time] prefix: hex " to <working dir>/Logs/Log-<yyyy-MM-dd>.txt; one line per call,
// lines from different threads never interleave. Failures are ignored.
void writeDataLog(const QString& prefix, const QByteArray& data);

// The same into logDir with other limits; for tests.
void writeDataLogTo(const QString& logDir, const QString& prefix, const QByteArray& data,
                    qint64 maxBytes, int maxFiles);
