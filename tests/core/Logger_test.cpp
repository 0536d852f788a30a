#include <gtest/gtest.h>
#include <spdlog/logger.h>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "core/AppDir.h"
#include "core/DataLog.h"
#include "core/Logger.h"
#include "core/RotatingFileModSink.h"

namespace {
QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList logFiles(const QString& dir, const QString& filter) {
    return QDir(dir).entryList({filter}, QDir::Files, QDir::Name);
}

std::shared_ptr<spdlog::logger> loggerOver(std::shared_ptr<rotating_file_mod_sink> sink) {
    auto logger = std::make_shared<spdlog::logger>("test", sink);
    logger->set_pattern("%v");
    return logger;
}

TEST(RotatingFileModSink, FileNameCarriesOpeningTime) {
    const QDateTime t(QDate(2022, 7, 11), QTime(8, 5, 9, 42));
    EXPECT_EQ(rotating_file_mod_sink::fileNameFor("WFSLog", "log", t.toMSecsSinceEpoch()),
              "WFSLog_2022-07-11_08-05-09_042.log");
}

TEST(RotatingFileModSink, EntryCrossingTheLimitStartsTheNewFile) {
    QTemporaryDir dir;
    auto sink =
        std::make_shared<rotating_file_mod_sink>("R", "log", dir.path().toStdString(), 100, 100);
    auto logger = loggerOver(sink);
    const std::string first(59, 'a'), second(59, 'b');  // 60 bytes each with the line end
    logger->info(first);
    const std::string firstPath = sink->currentPath();
    logger->info(second);  // 120 > 100: rotates before writing

    const QStringList files = logFiles(dir.path(), "R*.log");
    ASSERT_EQ(files.size(), 2);
    EXPECT_NE(sink->currentPath(), firstPath);
    EXPECT_EQ(readAll(QString::fromStdString(firstPath)), QByteArray::fromStdString(first + "\n"));
    EXPECT_EQ(readAll(QString::fromStdString(sink->currentPath())),
              QByteArray::fromStdString(second + "\n"));

    logger->info(std::string(30, 'c'));  // 60 + 31 <= 100: same file
    EXPECT_EQ(logFiles(dir.path(), "R*.log").size(), 2);
}

TEST(RotatingFileModSink, RetentionKeepsNewestMatchingFilesOnly) {
    QTemporaryDir dir;
    for (int i = 0; i < 100; ++i) {
        QFile f(dir.filePath(QString("R_2000-01-01_00-00-00_%1.log").arg(i, 3, 10, QChar('0'))));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    for (const char* name : {"other.txt", "R_notes.txt", "Q_2000.log"}) {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    auto sink =
        std::make_shared<rotating_file_mod_sink>("R", "log", dir.path().toStdString(), 10, 100);
    auto logger = loggerOver(sink);
    logger->info("first entry");   // crosses 10 bytes: rotation
    logger->info("second entry");  // and again

    const QStringList files = logFiles(dir.path(), "R*.log");
    EXPECT_EQ(files.size(), 100);
    EXPECT_FALSE(files.contains("R_2000-01-01_00-00-00_000.log"));
    EXPECT_FALSE(files.contains("R_2000-01-01_00-00-00_001.log"));
    EXPECT_FALSE(files.contains("R_2000-01-01_00-00-00_002.log"));
    EXPECT_TRUE(files.contains("R_2000-01-01_00-00-00_003.log"));
    EXPECT_TRUE(files.contains(QFileInfo(QString::fromStdString(sink->currentPath())).fileName()));
    for (const char* name : {"other.txt", "R_notes.txt", "Q_2000.log"})
        EXPECT_TRUE(QFile::exists(dir.filePath(name))) << name;
}

// A file begun on another day, and files named before the retention days, go; a file of
// yesterday, within them, stays.
TEST(RotatingFileModSink, NewDayStartsAFileAndOldDaysAreDeleted) {
    QTemporaryDir dir;
    const qint64 day = 86400000;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const QString old =
        QString::fromStdString(rotating_file_mod_sink::fileNameFor("R", "log", now - 3 * day));
    const QString recent =
        QString::fromStdString(rotating_file_mod_sink::fileNameFor("R", "log", now - day));
    for (const QString& name : {old, recent}) {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    auto sink =
        std::make_shared<rotating_file_mod_sink>("R", "log", dir.path().toStdString(), 1000, 100);
    sink->set_pattern("%v");
    sink->setLimits(1000, 100, 2);
    EXPECT_EQ(logFiles(dir.path(), "R*.log").size(), 2);
    EXPECT_FALSE(QFile::exists(dir.filePath(old)));

    const auto at = [&](std::chrono::system_clock::time_point t, const char* text) {
        sink->log(spdlog::details::log_msg(t, {}, "test", spdlog::level::info, text));
    };
    const auto today = std::chrono::system_clock::now();
    at(today, "today");
    const std::string todayPath = sink->currentPath();
    at(today + std::chrono::hours(24), "tomorrow");
    at(today + std::chrono::hours(24), "tomorrow again");
    EXPECT_EQ(readAll(QString::fromStdString(todayPath)), QByteArray("today\n"));
    EXPECT_EQ(readAll(QString::fromStdString(sink->currentPath())),
              QByteArray("tomorrow\ntomorrow again\n"));
    EXPECT_EQ(logFiles(dir.path(), "R*.log").size(), 3);
}

TEST(RotatingFileModSink, UnopenableFileIsReportedWithItsPath) {
    try {
        rotating_file_mod_sink sink("R", "log", "/nonexistent-dir/for/logs", 10, 10);
        FAIL() << "opening should fail";
    } catch (const spdlog::spdlog_ex& e) {
        EXPECT_TRUE(
            QString(e.what()).startsWith("Failed opening file /nonexistent-dir/for/logs/R_"));
        EXPECT_TRUE(QString(e.what()).endsWith(" for writing"));
    }
}

// The process-wide set-up: one directory, named loggers over one file, release and recreate.
TEST(Logging, NamedLoggersShareTheFileAndSurviveRelease) {
    QTemporaryDir appDir;
    setApplicationDirectoryForTesting(appDir.path());
    ASSERT_TRUE(initLogger("WFSLog"));

    const QStringList files = logFiles(appDir.filePath("WFSLog"), "*");
    ASSERT_EQ(files.size(), 1);
    EXPECT_TRUE(QRegularExpression(R"(^WFSLog_\d{4}-\d{2}-\d{2}_\d{2}-\d{2}-\d{2}_\d{3}\.log$)")
                    .match(files[0])
                    .hasMatch())
        << files[0].toStdString();

    auto first = getLogger("WebServer");
    EXPECT_EQ(first, getLogger("WebServer"));
    first->info("{}, before release", "WebServer::test");
    first.reset();
    releaseLoggers();
    auto again = getLogger("WebServer");
    again->info("{}, after release", "WebServer::test");

    const QByteArray text = readAll(appDir.filePath("WFSLog/" + files[0]));
    EXPECT_TRUE(text.contains("<I|WebServer> WebServer::test, before release"));
    EXPECT_TRUE(text.contains("<I|WebServer> WebServer::test, after release"));
    const QRegularExpression entry(
        R"(^\[\d+ \d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3}\]<I\|WebServer> WebServer::test, after release$)",
        QRegularExpression::MultilineOption);
    EXPECT_TRUE(entry.match(QString::fromUtf8(text)).hasMatch()) << text.toStdString();

    // The user-interface logger keeps at most 1001 records in memory.
    for (int i = 0; i < 1200; ++i) getLogger("GUI")->info("{}, record {}", "GUI::test", i);
    EXPECT_EQ(listSinkSize(), 1001u);
}

TEST(DataLog, AppendsOneHexLinePerCall) {
    QTemporaryDir dir;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    const QDate day = QDate::currentDate();
    writeDataLog("X", QByteArray::fromHex("01ab"));
    writeDataLog("Y", QByteArray());
    QDir::setCurrent(previous);
    if (QDate::currentDate() != day) GTEST_SKIP() << "midnight passed: the lines went to two files";

    const QString path = dir.filePath("Logs/Log-" + day.toString("yyyy-MM-dd") + ".txt");
    const QList<QByteArray> lines = readAll(path).split('\n');
    ASSERT_EQ(lines.size(), 3);  // two lines and the empty rest after the last line feed
    EXPECT_TRUE(lines[0].startsWith("["));
    EXPECT_TRUE(lines[0].endsWith("] X: 01ab \r")) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].endsWith("] Y:  \r")) << lines[1].toStdString();
}

// Past its size the data log moves aside and begins again under today's name; the oldest
// files go, so the directory holds at most the given number of files.
TEST(DataLog, RotatesBySizeAndKeepsABoundedNumberOfFiles) {
    QTemporaryDir dir;
    const QString logs = dir.filePath("Logs");
    const QByteArray data(100, '\x5a');  // 200 hex digits, a line of about 250 bytes
    for (int i = 0; i < 40; ++i) writeDataLogTo(logs, QString("line %1").arg(i), data, 1000, 3);

    const QFileInfoList files = QDir(logs).entryInfoList(QDir::Files);
    EXPECT_EQ(files.size(), 3);
    for (const QFileInfo& file : files)
        EXPECT_LE(file.size(), 1000) << file.fileName().toStdString();
    const QString current = logs + "/Log-" + QDate::currentDate().toString("yyyy-MM-dd") + ".txt";
    const QByteArray text = readAll(current);
    EXPECT_TRUE(text.contains("] line 39: ")) << text.toStdString();
    EXPECT_FALSE(text.contains("] line 0: "));
}
}  // namespace
