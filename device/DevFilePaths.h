#pragma once

#include <QString>

// The directories, formed at a terminal's report, that receive its uploaded files; each ends
// with a separator so that the file name is simply appended.
struct DevFilePaths {
    QString log;      // type 1
    QString index;    // type 2
    QString print;    // type 3
    QString runInfo;  // type 4

    // The directory of a file type (1 to 4); empty for any other type.
    QString forType(quint32 type) const {
        switch (type) {
            case 1:
                return log;
            case 2:
                return index;
            case 3:
                return print;
            case 4:
                return runInfo;
            default:
                return QString();
        }
    }
};
