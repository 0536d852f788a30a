#include "core/Logger.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>
#include <QDir>
#include <QtGlobal>

#include "core/AppDir.h"
#include "core/ListSink.h"
#include "core/RotatingFileModSink.h"

namespace {
const char* const kPattern = "[%t %Y-%m-%d %H:%M:%S.%e]<%L|%n> %v";

// Guards everything below.
struct LoggingState {
    std::mutex mutex;
    bool initialised = false;
    std::string directory;
    std::vector<spdlog::sink_ptr> commonSinks;
    std::vector<spdlog::sink_ptr> guiSinks;
    std::shared_ptr<list_sink> listSink;
    std::shared_ptr<rotating_file_mod_sink> fileSink;
    spdlog::level::level_enum level = spdlog::level::info;
};

spdlog::level::level_enum levelOf(QtMsgType type) {
    switch (type) {
        case QtDebugMsg:
            return spdlog::level::debug;
        case QtInfoMsg:
            return spdlog::level::info;
        case QtWarningMsg:
            return spdlog::level::warn;
        case QtCriticalMsg:
            return spdlog::level::err;
        case QtFatalMsg:
            break;
    }
    return spdlog::level::critical;
}

void qtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const char* category = context.category;
    if (!category || std::strcmp(category, "default") == 0) category = "Qt";
    const spdlog::level::level_enum level = levelOf(type);
    const auto logger = getLogger(category);
    // The level test first: a debug line costs no conversion at the default level.
    if (logger->should_log(level)) logger->log(level, "{}", message.toStdString());
    if (type == QtFatalMsg) std::abort();
}

LoggingState& state() {
    static LoggingState s;
    return s;
}
}  // namespace

bool initLogger(const std::string& name) {
    LoggingState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.initialised) return true;

    const QString dir = QDir::toNativeSeparators(
        QDir::cleanPath(applicationDirectory() + QDir::separator() + QString::fromStdString(name)));
    QDir().mkpath(dir);
    s.directory = dir.toLocal8Bit().toStdString();

    std::shared_ptr<rotating_file_mod_sink> fileSink;
    try {
        const LogSettings defaults;
        fileSink = std::make_shared<rotating_file_mod_sink>(
            name, "log", s.directory, defaults.maxFileBytes, defaults.maxFiles);
    } catch (const spdlog::spdlog_ex& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return false;
    }
    s.commonSinks.clear();
    s.commonSinks.push_back(std::make_shared<spdlog::sinks::stdout_sink_mt>());
    s.commonSinks.push_back(fileSink);
    s.fileSink = fileSink;
    s.guiSinks = s.commonSinks;
    s.listSink = std::make_shared<list_sink>();
    s.guiSinks.push_back(s.listSink);

    auto global =
        std::make_shared<spdlog::logger>("Global", s.commonSinks.begin(), s.commonSinks.end());
    spdlog::register_logger(global);
    spdlog::set_level(s.level);
    spdlog::set_pattern(kPattern);
    // The file sink flushes itself; the console is flushed after every entry too.
    spdlog::flush_on(spdlog::level::trace);
    s.initialised = true;
    return true;
}

std::shared_ptr<spdlog::logger> getLogger(const std::string& name) {
    LoggingState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (auto existing = spdlog::get(name)) return existing;
    const auto& sinks = (name == "GUI") ? s.guiSinks : s.commonSinks;
    auto logger = std::make_shared<spdlog::logger>(name, sinks.begin(), sinks.end());
    logger->set_level(s.level);
    logger->flush_on(spdlog::level::trace);
    spdlog::register_logger(logger);
    spdlog::set_pattern(kPattern);
    return logger;
}

bool configureLogging(const LogSettings& settings) {
    LoggingState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    // from_str gives "off" for a name it does not know; a log turned off is not offered either.
    const spdlog::level::level_enum level = spdlog::level::from_str(settings.level);
    const bool known = level != spdlog::level::off;
    s.level = known ? level : spdlog::level::info;
    spdlog::set_level(s.level);
    if (s.fileSink)
        s.fileSink->setLimits(settings.maxFileBytes, settings.maxFiles, settings.retentionDays);
    return known;
}

void routeQtMessages() {
    qInstallMessageHandler(qtMessage);
}

void releaseLoggers() {
    LoggingState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.initialised) return;
    spdlog::drop_all();
    s.initialised = false;
}

size_t listSinkSize() {
    LoggingState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.listSink ? s.listSink->size() : 0;
}
