// What section "Label" of the settings file says about the label each board leaves the line
// with:
//   Printer=   zpl://HOST[:PORT]  a ZPL label printer over a raw TCP connection (port 9100 when
//                                 omitted); HOST is an IPv4 address or a host name
//              cups:QUEUE         a CUPS queue, handed the label as PDF
//              pdf:FOLDER         one PDF file per label in FOLDER (an absolute path), named after
//                                 the MAC address
//              empty or missing   no labels
//   Copies=    labels per board, 1 to 99 (default 1)
//   WidthMm=   the label's width in millimetres, 10 to 200 (default 50)
//   HeightMm=  its height in millimetres, 10 to 200 (default 25)
//   Dpi=       the printer's resolution in dots per inch, 100 to 600 (default 203): the dots a
//              ZPL job counts in
// A value the program cannot use leaves the printer named but unusable: `error` names the key,
// the value and what the key takes, and no label is printed until it is mended.
//
// Pure. Thread rules: none.
#pragma once

#include <QString>

class TIniFile;

enum class TLabelOutput { None, Zpl, Cups, Pdf };

struct TLabelSettings {
    TLabelOutput output = TLabelOutput::None;
    QString printer;  // Printer= as written, for messages
    QString host;     // Zpl
    int port = 9100;  // Zpl
    QString queue;    // Cups
    QString folder;   // Pdf
    int copies = 1;
    int widthMm = 50;
    int heightMm = 25;
    int dpi = 203;
    QString error;  // why the section cannot be used; empty when it can

    // A printer is named, also one whose settings are wrong (their error is the label's result).
    bool Configured() const { return output != TLabelOutput::None || !error.isEmpty(); }
};

TLabelSettings ReadLabelSettings(const TIniFile& ini);
