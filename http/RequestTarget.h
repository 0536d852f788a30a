#pragma once

#include <QByteArray>
#include <QString>
#include <QStringRef>

// A request target ("/path?query") taken apart at its first '?'.
QStringRef targetPath(const QString& target);
QByteArray targetPath(const QByteArray& target);
