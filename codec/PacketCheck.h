#pragma once

#include <QByteArray>

// What one framed packet is worth to the connection that sent it: only a packet that passes
// the check code and whose body parses counts as a sign of life, and only a device report with
// a serial number identifies the terminal.
enum class PacketVerdict { Invalid, Valid, Identifies };

PacketVerdict checkPacket(const QByteArray& packet);
