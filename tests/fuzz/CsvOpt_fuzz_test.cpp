// SplitCsvLine takes any line; without quotes it must cut exactly at every comma.
#include <cstdlib>

#include "files/CsvOpt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString line =
        QString::fromUtf8(reinterpret_cast<const char*>(data), int(size)).remove('\n');
    const QStringList fields = CsvOpt::SplitCsvLine(line);
    if (!line.isEmpty() && !line.contains('"') && fields != line.split(',')) std::abort();
    if (line.isEmpty() && !fields.isEmpty()) std::abort();
    return 0;
}
