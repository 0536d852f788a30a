// Any row of texts written as a CSV line reads back as the same texts (and the empty cell the
// comma after the last one makes).
#include <cstdlib>

#include "files/CsvOpt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString input = QString::fromUtf8(reinterpret_cast<const char*>(data), int(size));
    QList<QVariant> row;
    for (const QString& text : input.split(QChar(0x1f))) row << text;
    // With its size: Qt 5 reads a QByteArray only up to its first NUL.
    const QByteArray line = CsvOpt::EncodeCsvLine(row, CsvOpt::Charset::Utf8);
    const QList<QStringList> read = CsvOpt::parse(QString::fromUtf8(line.constData(), line.size()));
    QStringList expected;
    for (const QVariant& text : row) expected << text.toString();
    if (read != QList<QStringList>{expected << QString()}) std::abort();
    return 0;
}
