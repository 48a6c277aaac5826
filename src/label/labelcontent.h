// What one label says, and where each part of it stands.
//
// A label carries the board's MAC address as large text and as a QR code whose payload is the
// same text, the own IP address written to the board, the station and the date. The ZPL job and
// the PDF page are both drawn from LabelLines and LayOutLabel, so the two look alike.
//
// Pure. Thread rules: none.
#pragma once

#include <QDate>
#include <QString>
#include <QStringList>

struct TLabelContent {
    QString mac;  // "02-5A-C3-00-01-C9": the large text, the QR code's payload, the PDF's name
    QString ownIp;
    QString station;
    QDate date;
};

// The content for the address `macLow` (the three bytes after 02-5A-C3).
TLabelContent MakeLabelContent(int macLow, const QString& ownIp, const QString& station,
                               const QDate& date);
// Why the content cannot go on a label, empty when it can: the MAC address must be whole, since
// it also names the PDF file, and the date valid.
QString CheckLabelContent(const TLabelContent& c);

// The text lines, top to bottom: the MAC address, "IP <own IP>", the station (its first
// kMaxStationChars characters) and the date as yyyy-MM-dd.
inline constexpr int kLabelLineCount = 4;
inline constexpr int kMaxStationChars = 32;
QStringList LabelLines(const TLabelContent& c);

// A rectangle on the label in millimetres, from its top left corner.
struct TMmBox {
    double x = 0;
    double y = 0;
    double w = 0;
    double h = 0;
};

// The MAC address across the top; below it the QR code (a square, its quiet zone inside) on the
// left and the other lines to its right, one box each.
struct TLabelLayout {
    TMmBox lines[kLabelLineCount];
    TMmBox qr;
};
TLabelLayout LayOutLabel(int widthMm, int heightMm);
