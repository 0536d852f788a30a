#include "files/FileOperation.h"

#include <cstdlib>

#include <gtest/gtest.h>
#include <QCryptographicHash>
#include <QDate>
#include <QDateTime>
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
    FileOperation* files() { return &m_files; }

    QTemporaryDir m_dir;
    FileOperation m_files;
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

// A link where a package is written, as the file or as its type directory, would carry the
// write outside the package directory. A fresh file replaces a link with a file of its own;
// appending through one, or writing under a linked directory, is refused.
TEST_F(FileOperationTest, PackageWritesFollowNoLink) {
    QTemporaryDir outside;
    const QString target = outside.filePath(QStringLiteral("target.bin"));
    ASSERT_TRUE(writeFile(target, "outside"));
    ASSERT_TRUE(QDir().mkpath(path(QStringLiteral("Package/T1"))));
    ASSERT_TRUE(QFile::link(outside.path(), path(QStringLiteral("Package/TL"))));
    struct Case {
        const char* file;
        bool fresh;
        bool written;
    };
    const Case cases[] = {
        {"Package/T1/link.bin", false, false},
        {"Package/T1/link.bin", true, true},  // the link itself is replaced
        {"Package/TL/target.bin", false, false},
        {"Package/TL/target.bin", true, false},
        {"Package/TL/new.bin", true, false},
    };
    for (const Case& c : cases) {
        const QString file = path(QLatin1String(c.file));
        QFile::remove(path(QStringLiteral("Package/T1/link.bin")));
        ASSERT_TRUE(QFile::link(target, path(QStringLiteral("Package/T1/link.bin"))));
        EXPECT_EQ(files()->WriteUpgradePackage(file, "inside", c.fresh), c.written)
            << c.file << " fresh " << c.fresh;
        EXPECT_EQ(readFile(target), QByteArray("outside")) << c.file << " fresh " << c.fresh;
        if (c.written) {
            EXPECT_FALSE(QFileInfo(file).isSymLink()) << c.file;
            EXPECT_EQ(readFile(file), QByteArray("inside")) << c.file;
        }
    }
    EXPECT_EQ(QDir(outside.path()).entryList(QDir::Files), QStringList{"target.bin"});
    // An upload writes beside the package under a name of its own: a link there is refused.
    ASSERT_TRUE(QFile::link(target, path(QStringLiteral("Package/T1/.up.bin.part"))));
    EXPECT_FALSE(files()->WriteUploadBlock(path(QStringLiteral("Package/T1/up.bin")), "x", false));
    EXPECT_FALSE(files()->WriteUploadBlock(path(QStringLiteral("Package/TL/up.bin")), "x", true));
    EXPECT_EQ(readFile(target), QByteArray("outside"));
}

QByteArray sha256Hex(const QByteArray& data) {
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
}

// An upload reaches the package only at its commit, all at once: whoever has the old package
// open keeps reading it, and the digest is that of the bytes on disk, also when another writer
// went into the same upload between blocks.
TEST_F(FileOperationTest, UploadBlocksReplaceThePackageAtTheCommit) {
    const QString package = path(QStringLiteral("Package/T1/p.bin"));
    const QString temp = path(QStringLiteral("Package/T1/.p.bin.part"));
    const QByteArray old = QByteArray(3000, 'o');
    struct Case {
        const char* label;
        QByteArray stranger;  // appended to the upload's file by someone else after block 0
        qint64 announced;     // 0: the size of what was written
        bool committed;
    };
    const Case cases[] = {
        {"blocks only", QByteArray(), 0, true},
        {"another writer between blocks", "xyz", 0, true},
        {"fewer bytes than announced", QByteArray(), 4000, false},
        {"more bytes than announced", QByteArray(), 100, false},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(writeFile(package, old));
        QFile reader(package);
        ASSERT_TRUE(reader.open(QIODevice::ReadOnly));
        const QByteArray blocks[] = {QByteArray(1000, 'a'), QByteArray(1000, 'b')};
        ASSERT_TRUE(files()->WriteUploadBlock(package, blocks[0], true)) << c.label;
        if (!c.stranger.isEmpty()) {
            QFile other(temp);
            ASSERT_TRUE(other.open(QIODevice::Append) && other.write(c.stranger) > 0);
        }
        ASSERT_TRUE(files()->WriteUploadBlock(package, blocks[1], false)) << c.label;
        EXPECT_EQ(readFile(package), old) << c.label;
        const QByteArray written = blocks[0] + c.stranger + blocks[1];

        QByteArray digest;
        EXPECT_EQ(
            files()->CommitUpload(package, c.announced ? c.announced : written.size(), digest),
            c.committed)
            << c.label;
        EXPECT_FALSE(QFileInfo::exists(temp)) << c.label;
        EXPECT_EQ(readFile(package), c.committed ? written : old) << c.label;
        if (c.committed) {
            EXPECT_EQ(digest, sha256Hex(written)) << c.label;
        }
        EXPECT_EQ(reader.readAll(), old) << c.label;
    }
    // A block after the first finds no file: its upload's beginning is gone.
    EXPECT_FALSE(files()->WriteUploadBlock(package, "late", false));
    EXPECT_FALSE(QFileInfo::exists(temp));
}

TEST_F(FileOperationTest, StaleUploadsAreRemovedAndFreshOnesKept) {
    const QStringList names{"T1/.old.bin.part", "T1/.new.bin.part", "T1/old.bin", "T2/.hidden.bin",
                            "T2/.other.bin.part"};
    for (const QString& name : names) {
        const QString file = path("Package/" + name);
        ASSERT_TRUE(writeFile(file, "x"));
        if (!name.contains("new")) {
            QFile stamp(file);
            ASSERT_TRUE(stamp.open(QIODevice::ReadWrite));
            ASSERT_TRUE(stamp.setFileTime(QDateTime::currentDateTime().addSecs(-7200),
                                          QFileDevice::FileModificationTime));
        }
    }
    files()->RemoveStaleUploads(path(QStringLiteral("Package")), 3600);
    QStringList left;
    for (const QString& name : names)
        if (QFileInfo::exists(path("Package/" + name))) left << name;
    EXPECT_EQ(left, QStringList({"T1/.new.bin.part", "T1/old.bin", "T2/.hidden.bin"}));
}

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
    EXPECT_TRUE(empty);  // a last chunk may be empty
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
