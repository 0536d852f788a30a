#include "files/SearchFile.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>

#include "files/PathGuard.h"
#include "tests/support/MessageCapture.h"

namespace {

bool writeFile(const QString& path) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("x") == 1;
}

// A web root holding css/a.css, index.html and a secret file beside it.
class SearchFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_root = m_dir.filePath(QStringLiteral("web"));
        ASSERT_TRUE(writeFile(m_root + QStringLiteral("/css/a.css")));
        ASSERT_TRUE(writeFile(m_root + QStringLiteral("/index.html")));
        ASSERT_TRUE(writeFile(m_dir.filePath(QStringLiteral("WFS.db"))));
    }

    QTemporaryDir m_dir;
    QString m_root;
};

TEST_F(SearchFileTest, DirectAndRecursiveLookups) {
    struct Case {
        QString dir;
        QString name;
        bool recursive;
        bool found;
        QString path;  // relative to the web root's parent
    };
    const QString backslashRoot = QString(m_root).replace(QLatin1Char('/'), QLatin1Char('\\'));
    const Case cases[] = {
        {backslashRoot, QStringLiteral("\\css\\a.css"), false, true,
         QStringLiteral("web/css/a.css")},
        {m_root + QLatin1Char('/'), QStringLiteral("/index.html"), false, true,
         QStringLiteral("web/index.html")},
        {m_root, QStringLiteral("a.css"), true, true, QStringLiteral("web/css/a.css")},
        {m_root, QStringLiteral("a.css"), false, false, QString()},
        {m_root, QStringLiteral("b.css"), true, false, QString()},
        {m_root, QStringLiteral("css"), true, false, QString()},  // directories are no match
        {m_root, QStringLiteral("./css//a.css"), false, true, QStringLiteral("web/./css//a.css")},
        {m_root, QStringLiteral("a.css") + QChar(0), true, false, QString()},
    };
    for (const Case& c : cases) {
        QString out;
        EXPECT_EQ(searchFile(c.dir, c.name, out, c.recursive), c.found) << qPrintable(c.name);
        if (c.found) {
            EXPECT_EQ(out, m_dir.filePath(c.path)) << qPrintable(c.name);
        }
    }
}

TEST_F(SearchFileTest, LogLines) {
    MessageCapture capture;
    QString out;
    searchFile(m_root, QStringLiteral("css/a.css"), out, false);
    searchFile(m_root, QStringLiteral("a.css"), out, false);
    searchFile(m_root, QStringLiteral("b.css"), out, true);
    searchFile(m_dir.filePath(QStringLiteral("nowhere")), QStringLiteral("a.css"), out, true);
    const QStringList expected = {
        QStringLiteral("[searchFile] file %1/css/a.css exist.").arg(m_root),
        QStringLiteral("[searchFile] file %1/a.css not exist.").arg(m_root),
        QStringLiteral("[searchFile] dir %1/ and file b.css not exist.").arg(m_root),
        QStringLiteral("[searchFile] dir %1 not exist.").arg(m_dir.filePath("nowhere")),
    };
    EXPECT_EQ(capture.lines(), expected);
}

// Names from terminals and browsers that become one path component.
TEST(PlainName, OnlyNamesThatStayInTheirDirectory) {
    const QChar nul(0);
    const struct {
        QString name;
        bool usable;
    } cases[] = {
        {QStringLiteral("a..b.log"), true},
        {QStringLiteral("..a"), true},
        {QStringLiteral("a.."), true},
        {QStringLiteral("..."), true},
        {QStringLiteral("SN0001"), true},
        {QStringLiteral("20240101_pkg.bin"), true},
        {QStringLiteral(".."), false},
        {QStringLiteral("."), false},
        {QStringLiteral(""), false},
        {QString(), false},
        {QStringLiteral("a/b"), false},
        {QStringLiteral("a\\b"), false},
        {QStringLiteral("/"), false},
        {QStringLiteral("../x"), false},
        {QStringLiteral("..\\x"), false},
        {QString(nul), false},
        {QStringLiteral("a") + nul + QStringLiteral("b"), false},
        {QStringLiteral("log.txt") + nul, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isPlainName(c.name), c.usable)
            << qPrintable(QString(c.name).replace(nul, QLatin1Char('0')));
}

// Names a terminal sends become a path component of their own: readable, distinct, and always
// a plain name that stays in its directory.
TEST(PlainName, SafeComponentKeepsNamesDistinctAndInPlace) {
    const QChar nul(0);
    const struct {
        QString name;
        QString safe;
    } cases[] = {
        {QStringLiteral("SN0001"), QStringLiteral("SN0001")},
        {QStringLiteral("a..b.log"), QStringLiteral("a..b.log")},
        {QStringLiteral("日志.txt"), QStringLiteral("日志.txt")},
        {QStringLiteral("."), QStringLiteral("%2E")},
        {QStringLiteral(".."), QStringLiteral("%2E%2E")},
        {QStringLiteral("%2E"), QStringLiteral("%252E")},
        {QStringLiteral("../x"), QStringLiteral("..%2Fx")},
        {QStringLiteral("a\\b"), QStringLiteral("a%5Cb")},
        {QStringLiteral("a") + nul + QStringLiteral("b"), QStringLiteral("a%00b")},
        {QStringLiteral("tab\there\n"), QStringLiteral("tab%09here%0A")},
        {QStringLiteral("del\x7f"), QStringLiteral("del%7F")},
        {QString(), QStringLiteral("%")},
    };
    QSet<QString> seen;
    for (const auto& c : cases) {
        const QString safe = safePathComponent(c.name);
        EXPECT_EQ(safe, c.safe) << qPrintable(c.safe);
        EXPECT_TRUE(isPlainName(safe)) << qPrintable(c.safe);
        seen.insert(safe);
    }
    EXPECT_EQ(seen.size(), static_cast<int>(sizeof cases / sizeof cases[0]));
}

// Request paths reach searchFile unfiltered: nothing outside the directory may come back.
TEST_F(SearchFileTest, NeverLeavesTheDirectory) {
    ASSERT_TRUE(
        QFile::link(m_dir.filePath(QStringLiteral("WFS.db")), m_root + QStringLiteral("/db.html")));
    ASSERT_TRUE(QFile::link(m_dir.path(), m_root + QStringLiteral("/up")));
    const QString names[] = {
        QStringLiteral("../WFS.db"),
        QStringLiteral("css/../../WFS.db"),
        QStringLiteral("..\\WFS.db"),
        QStringLiteral("//") + m_dir.filePath(QStringLiteral("WFS.db")),
        m_dir.filePath(QStringLiteral("WFS.db")).prepend(QStringLiteral("/")),
        QStringLiteral("C:/WFS.db"),
        QStringLiteral("db.html"),
        QStringLiteral("up/WFS.db"),
    };
    for (const QString& name : names) {
        for (bool recursive : {false, true}) {
            QString out;
            EXPECT_FALSE(searchFile(m_root, name, out, recursive))
                << qPrintable(name) << " -> " << qPrintable(out);
        }
    }
    QString out;
    EXPECT_FALSE(searchFile(m_root, QStringLiteral("WFS.db"), out, true)) << qPrintable(out);
}

}  // namespace
