// The label as a PDF page, drawn with cairo (page and text) and libqrencode (the QR code). Part
// of the label's drawing module (labelrender.h).
//
// Thread rules: none of its own; cairo's PDF surface and font lookup are thread-safe.
#pragma once

#include <QByteArray>
#include <QString>

struct TLabelContent;
struct TLabelSettings;

// The document for `s.copies` labels of `c`, one page each of the settings' size: the lines in
// Noto Sans CJK JP (or the font fontconfig puts in its place), each shrunk to its box. Empty,
// with `*error` set, when cairo fails or the document would pass kMaxLabelPdfBytes. `c` must have
// passed CheckLabelContent.
QByteArray LabelPdf(const TLabelSettings& s, const TLabelContent& c, QString* error);
inline constexpr int kMaxLabelPdfBytes = 4 * 1024 * 1024;
