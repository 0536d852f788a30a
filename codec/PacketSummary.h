#pragma once

#include <QByteArray>

// One packet for a log line: the header fields and at most maxDataBytes of the body in hex,
// so a bulk packet costs a bounded line instead of its whole body twice over.
QByteArray packetSummary(const QByteArray& packet, int maxDataBytes = 64);
