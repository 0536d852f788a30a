#pragma once

#include <QByteArray>
#include <QString>

// Content-Disposition for a download named name: a plain quoted name for ASCII, and for others an
// ASCII stand-in beside the RFC 5987 filename* with the UTF-8 name percent-encoded.
QByteArray attachmentDisposition(const QString& name);
