#pragma once

#include <QByteArray>
#include <QString>

// What a device report carries: the terminal's identity and its component versions. The
// service parses reports into it and the terminal's side builds them from it; the device layer
// alone writes it onto the stored record.
struct DeviceReport {
    QString devSN;
    QString devType;
    QString LicensePlateNumber;  // GBK on the wire
    QString PhoneNumber;
    QString AppVersion;
    QString McuVersion;
    QString FourGVersion;
    QString GnssVersion;
    QString SmartModule;
    QString Reserve;

    // Body sizes of the standard (Command::Report) and extended (Command::ReportEx) layouts,
    // which differ only in the width of the serial number. Bytes beyond are ignored.
    static constexpr int kSize = 304;
    static constexpr int kSizeEx = 320;

    // False, with `out` cleared, for a body shorter than its layout.
    static bool parse(const QByteArray& body, bool extended, DeviceReport& out);
    // Each text cut to its field or padded with NUL bytes.
    QByteArray body(bool extended) const;
};
