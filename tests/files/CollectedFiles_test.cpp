// The files terminals uploaded: what is listed and what a download may read, never anything
// outside the store however a name or a link points.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "files/CollectedFiles.h"

namespace {
void put(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}
}  // namespace

TEST(CollectedFiles, OnlyFilesInsideTheStore) {
    QTemporaryDir app;
    QTemporaryDir outside;
    struLocalParam param;
    param.DevLogDir = app.filePath("DevLog");
    param.DevIndexDir = app.filePath("DevIndex");
    param.PrintDir = app.filePath("Print");
    param.RunInfoDir = app.filePath("RunInfo");
    put(param.DevLogDir + "/SN1/202601010000/a.log", "aaa");
    put(param.DevLogDir + "/SN1/202601020000/b.log", "bb");
    put(param.RunInfoDir + "/SN1/202601020000/trip.bin", "t");
    put(outside.filePath("secret.txt"), "secret");
    put(outside.filePath("dir/202601030000/c.log"), "c");
    ASSERT_TRUE(QDir().mkpath(param.DevIndexDir));
    ASSERT_TRUE(QFile::link(outside.filePath("secret.txt"),
                            param.DevLogDir + "/SN1/202601010000/link.log"));
    ASSERT_TRUE(QFile::link(outside.filePath("dir"), param.DevIndexDir + "/SN1"));

    QStringList listed;
    for (const CollectedFiles::Entry& e : CollectedFiles::list(param, "SN1"))
        listed << e.type + "/" + e.reportTime + "/" + e.name + ":" + QString::number(e.size);
    EXPECT_EQ(listed, QStringList({"log/202601020000/b.log:2", "log/202601010000/a.log:3",
                                   "runInfo/202601020000/trip.bin:1"}));
    EXPECT_TRUE(CollectedFiles::list(param, "..").isEmpty());

    const struct {
        const char* type;
        const char* sn;
        const char* time;
        const char* name;
        bool found;
    } cases[] = {
        {"log", "SN1", "202601010000", "a.log", true},
        {"runInfo", "SN1", "202601020000", "trip.bin", true},
        {"print", "SN1", "202601020000", "trip.bin", false},  // another type's file
        {"nope", "SN1", "202601010000", "a.log", false},
        {"log", "SN1", "202601010000", "link.log", false},  // a link out of the store
        {"index", "SN1", "202601030000", "c.log", false},   // through a linked directory
        {"index", "SN1", "..", "c.log", false},
        {"index", "SN1", ".", "c.log", false},
        {"log", "..", "DevLog", "a.log", false},
        {"log", "SN1", "202601010000/..", "a.log", false},
        {"log", "SN1", "202601010000", "../202601020000/b.log", false},
        {"log", "SN1", "202601010000", "missing.log", false},
    };
    for (const auto& c : cases) {
        const QString path = CollectedFiles::path(param, c.sn, c.type, c.time, c.name);
        EXPECT_EQ(!path.isEmpty(), c.found)
            << c.type << " " << c.sn << " " << c.time << " " << c.name;
    }
}
