#pragma once

#include <memory>
#include <string>

#include <spdlog/logger.h>

// Named loggers over the console and the rotating log file under <application dir>/<name>.
// initLogger returns false (after a message on stderr) when the first log file cannot be opened.
bool initLogger(const std::string& name);

// The logger of that name, created on first use. Ask at every log statement: the handle must
// not be kept across releaseLoggers.
std::shared_ptr<spdlog::logger> getLogger(const std::string& name);

// What an operator sets of the log once the configuration is read: the level of every logger
// ("trace", "debug", "info", "warning", "error", "critical"; anything else sets info and returns
// false) and the file limits of the rotating log file.
struct LogSettings {
    std::string level = "info";
    size_t maxFileBytes = 2097152;
    size_t maxFiles = 100;
    int retentionDays = 0;  // 0: files are kept by their count only
};
bool configureLogging(const LogSettings& settings);

// Sends Qt's messages (qDebug and the like) to the logger named by their category ("Qt" for
// the default one): the same sinks, format and levels as every other line. qDebug is debug.
void routeQtMessages();

// Drops every registered logger; sinks and the pattern stay for loggers created afterwards.
void releaseLoggers();

// Test hook: the number of records the in-memory list sink holds.
size_t listSinkSize();
