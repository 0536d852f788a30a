// Uploaded and edited workbooks reach the file engine as whatever bytes the operator sent: open
// must refuse what it cannot read, and a workbook it accepts must hand out every sheet's used
// range within the engine's cell limit.
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>

#include "files/FileWorkbookBackend.h"
#include "files/WorkbookSheet.h"
#include "tests/fuzz/FuzzQuiet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QTemporaryDir dir;
    static const QString path = dir.filePath(QStringLiteral("input.xlsx"));
    static const bool quiet = (silenceQtMessages(), true);
    (void)quiet;

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::abort();
    file.write(reinterpret_cast<const char*>(data), qint64(size));
    file.close();

    FileWorkbookBackend backend;
    if (!backend.open(path)) return 0;
    for (int i = 1; i <= backend.sheetCount(); ++i) {  // sheets count from 1
        if (!backend.selectSheet(i)) std::abort();
        const QList<QList<QVariant>> table = backend.usedRange();
        qint64 cells = 0;
        for (const auto& row : table) cells += row.size();
        if (cells > WorkbookLimits::kMaxCells) std::abort();
    }
    backend.close();
    return 0;
}
