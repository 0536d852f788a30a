#include "files/FileOperation.h"

#include <cstdlib>

#include <gtest/gtest.h>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "tests/support/MessageCapture.h"

namespace {

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& data) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

class FileOperationTest : public ::testing::Test {
  protected:
    QString path(const QString& relative) const { return m_dir.filePath(relative); }
    FileOperation* files() const { return FileOperation::instance(); }

    QTemporaryDir m_dir;
};

// A package block starts the file afresh or appends to it; an import replaces the file.
struct WriteCase {
    const char* name;
    enum { PackageAfresh, PackageAppend, Import } op;
    QByteArray before;  // empty: no file yet
    QByteArray data;
    QByteArray after;
};

class FileWriteTest : public FileOperationTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(FileWriteTest, LeavesTheExpectedContent) {
    const WriteCase& c = GetParam();
    const QString file = path(QStringLiteral("out.bin"));
    if (!c.before.isEmpty()) {
        ASSERT_TRUE(writeFile(file, c.before));
    }
    const bool ok = c.op == WriteCase::Import ? files()->ImportExcelFile(file, c.data)
                                              : files()->WriteUpgradePackage(
                                                    file, c.data, c.op == WriteCase::PackageAfresh);
    EXPECT_TRUE(ok);
    EXPECT_EQ(readFile(file), c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Files, FileWriteTest,
    ::testing::Values(WriteCase{"PackageBlockStartsAfresh", WriteCase::PackageAfresh,
                                QByteArray(1000, 'a'), "bbb", "bbb"},
                      WriteCase{"PackageBlockAppends", WriteCase::PackageAppend,
                                QByteArray(1000, 'a'), "bbb", QByteArray(1000, 'a') + "bbb"},
                      WriteCase{"AppendingToAMissingPackageCreatesIt", WriteCase::PackageAppend, "",
                                "abc", "abc"},
                      WriteCase{"ImportReplacesAnOlderFile", WriteCase::Import,
                                QByteArray(100, 'o'), "short", "short"}),
    [](const ::testing::TestParamInfo<WriteCase>& info) { return info.param.name; });

TEST_F(FileOperationTest, PackageAndImportCreateOnlyTheLastDirectoryLevel) {
    QDir(m_dir.path()).mkdir(QStringLiteral("Package"));
    EXPECT_TRUE(files()->WriteUpgradePackage(path(QStringLiteral("Package/T9/x.bin")), "x"));
    EXPECT_TRUE(QFileInfo(path(QStringLiteral("Package/T9/x.bin"))).isFile());
    EXPECT_FALSE(files()->WriteUpgradePackage(path(QStringLiteral("Missing/T9/x.bin")), "x"));
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("Missing"))));

    EXPECT_TRUE(files()->ImportExcelFile(path(QStringLiteral("Excel/import.csv")), "new"));
    EXPECT_EQ(readFile(path(QStringLiteral("Excel/import.csv"))), QByteArray("new"));
    EXPECT_FALSE(files()->ImportExcelFile(path(QStringLiteral("a/b/import.csv")), "new"));
}

TEST_F(FileOperationTest, ParameterErrors) {
    MessageCapture capture;
    EXPECT_FALSE(files()->WriteUpgradePackage(QString(), "data"));
    EXPECT_FALSE(files()->WriteUpgradePackage(path(QStringLiteral("p.bin")), QByteArray()));
    EXPECT_EQ(capture.lines().count(QStringLiteral("[WriteUpgradePackage] parameter error")), 2);
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("p.bin"))));
    EXPECT_FALSE(files()->ImportExcelFile(QString(), "data"));
    EXPECT_FALSE(files()->DeleteUpgradePackage(QString()));
}

TEST_F(FileOperationTest, DeletingMissingFiles) {
    const QString missing = path(QStringLiteral("gone.csv"));
    EXPECT_TRUE(files()->DeleteExcel(missing));
    EXPECT_FALSE(files()->DeleteUpgradePackage(missing));

    const QString present = path(QStringLiteral("here.bin"));
    ASSERT_TRUE(writeFile(present, "x"));
    EXPECT_TRUE(files()->DeleteUpgradePackage(present));
    EXPECT_FALSE(QFileInfo::exists(present));
    ASSERT_TRUE(writeFile(present, "x"));
    EXPECT_TRUE(files()->DeleteExcel(present));
    EXPECT_FALSE(QFileInfo::exists(present));
}

TEST_F(FileOperationTest, DeviceUploadCreatesAllLevelsAppendsAndLogsEachChunk) {
    // The data log goes under the working directory.
    const QString oldCwd = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(m_dir.path()));
    const QString file = path(QStringLiteral("DevLog/SN1/20240101/log.txt"));
    const bool first = files()->WriteDevUploadFile(file, "ab");
    const bool second = files()->WriteDevUploadFile(file, "cd");
    const bool empty = files()->WriteDevUploadFile(file, QByteArray());
    const QByteArray appended = readFile(file);
    const bool fresh = files()->WriteDevUploadFile(file, "ef", true);
    QDir::setCurrent(oldCwd);

    EXPECT_TRUE(first);
    EXPECT_TRUE(second);
    EXPECT_FALSE(empty);
    EXPECT_TRUE(fresh);
    EXPECT_EQ(appended, QByteArray("abcd"));
    EXPECT_EQ(readFile(file), QByteArray("ef"));  // a new transfer starts the file afresh
    const QByteArray log =
        readFile(path(QStringLiteral("Logs/Log-%1.txt")
                          .arg(QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")))));
    const QByteArray prefix = ("FileOperation::WriteDevUploadFile :" + file).toUtf8();
    EXPECT_TRUE(log.contains(prefix + ": 6162 ")) << log.constData();
    EXPECT_TRUE(log.contains(prefix + ": 6364 ")) << log.constData();
}

TEST_F(FileOperationTest, RemoveFolderContentEmptiesTheTreeAndKeepsTheRoot) {
    const QString root = path(QStringLiteral("Excel"));
    for (const char* name : {"a.txt", ".hidden", "sub/b.txt", "sub/deeper/c.txt"})
        ASSERT_TRUE(writeFile(root + QLatin1Char('/') + QLatin1String(name), "x"));
    QDir(root).mkpath(QStringLiteral("emptydir/inner"));

    EXPECT_TRUE(files()->removeFolderContent(root));
    EXPECT_TRUE(QFileInfo(root).isDir());
    EXPECT_TRUE(
        QDir(root)
            .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)
            .isEmpty());
}

TEST_F(FileOperationTest, RemoveFolderContentOnEmptyAndMissingDirectories) {
    EXPECT_TRUE(files()->removeFolderContent(m_dir.path()));
    EXPECT_FALSE(files()->removeFolderContent(path(QStringLiteral("missing"))));
    EXPECT_FALSE(files()->removeFolderContent(QString()));
}

TEST_F(FileOperationTest, RemoveFolderContentLeavesLinkTargetsAlone) {
    QTemporaryDir outside;
    ASSERT_TRUE(writeFile(outside.filePath(QStringLiteral("keep.txt")), "keep"));
    const QString root = path(QStringLiteral("Excel"));
    QDir().mkpath(root);
    ASSERT_TRUE(QFile::link(outside.path(), root + QStringLiteral("/dirlink")));
    ASSERT_TRUE(QFile::link(outside.filePath(QStringLiteral("keep.txt")),
                            root + QStringLiteral("/filelink")));

    EXPECT_TRUE(files()->removeFolderContent(root));
    EXPECT_TRUE(
        QDir(root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).isEmpty());
    EXPECT_EQ(readFile(outside.filePath(QStringLiteral("keep.txt"))), QByteArray("keep"));
}

// Nothing can be removed from an append-only directory, even by root, yet its entries are
// listed as writable: the clean-up must stop rather than offer them again forever, and still
// remove everything else.
TEST_F(FileOperationTest, RemoveFolderContentEndsWhenAnEntryCannotBeRemoved) {
    const QString root = path(QStringLiteral("Excel"));
    const QString lockedDir = root + QStringLiteral("/sub/locked");
    const QString locked = lockedDir + QStringLiteral("/file.txt");
    ASSERT_TRUE(writeFile(locked, "x"));
    ASSERT_TRUE(writeFile(root + QStringLiteral("/sub/other.txt"), "x"));
    ASSERT_TRUE(writeFile(root + QStringLiteral("/top.txt"), "x"));
    const QByteArray lockedDirPath = QFile::encodeName(lockedDir);
    if (std::system(("chattr +a '" + lockedDirPath + "' 2>/dev/null").constData()) != 0)
        GTEST_SKIP() << "chattr +a is not available here";
    struct Unlock {
        QByteArray path;
        ~Unlock() { (void)std::system(("chattr -a '" + path + "'").constData()); }
    } unlock{lockedDirPath};

    MessageCapture capture;
    EXPECT_FALSE(files()->removeFolderContent(root));
    EXPECT_TRUE(capture.contains(QStringLiteral("[removeFolderContent] ") + root));
    EXPECT_TRUE(QFileInfo::exists(locked));
    EXPECT_FALSE(QFileInfo::exists(root + QStringLiteral("/sub/other.txt")));
    EXPECT_FALSE(QFileInfo::exists(root + QStringLiteral("/top.txt")));
}

}  // namespace
