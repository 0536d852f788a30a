#pragma once

#include <QJsonDocument>
#include <QProcess>
#include <QString>
#include <QStringList>

// Runs workbook_tool.py (openpyxl, an independent reader and writer) with Debian's Python.
// Returns false, with the tool's error text in output, when it did not finish cleanly within
// the deadline.
inline bool runWorkbookTool(const QStringList& args, const QByteArray& input, QByteArray& output) {
    QProcess process;
    process.start(QStringLiteral(WORKBOOK_PYTHON),
                  QStringList{QStringLiteral(WORKBOOK_TOOL)} + args);
    if (!process.waitForStarted(10000)) {
        output = "cannot start " WORKBOOK_PYTHON;
        return false;
    }
    process.write(input);
    process.closeWriteChannel();
    const bool finished = process.waitForFinished(60000);
    output = process.readAllStandardOutput();
    if (!finished || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        output += process.readAllStandardError();
        return false;
    }
    return true;
}

// {"sheets": [{"name": ..., "rows": [[...]]}]} written by openpyxl ("write") or as bare XML
// with inline strings ("write-raw").
inline bool writeWithTool(const char* mode, const QString& path, const QJsonDocument& spec,
                          QByteArray& error) {
    return runWorkbookTool({QString::fromLatin1(mode), path}, spec.toJson(), error);
}
