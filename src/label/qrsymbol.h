// The QR code of a label's payload, as libqrencode lays it out (model 2, error correction level
// M, the smallest version that holds the text). EncodeQr lives in the label's drawing module
// (labelrender.h).
//
// Pure. Thread rules: none (libqrencode is built thread-safe on Debian).
#pragma once

#include <QByteArray>
#include <optional>
#include <vector>

// The light border a reader needs around the symbol, in modules.
inline constexpr int kQrQuietModules = 4;
// A MAC address text, 17 characters of QR's alphanumeric set, fits version 1 at level M (which
// holds 20): 21 modules a side.
inline constexpr int kMacQrModules = 21;

struct TQrSymbol {
    int width = 0;           // modules a side
    std::vector<bool> dark;  // row by row, width * width
    bool Dark(int x, int y) const { return dark[static_cast<size_t>(y * width + x)]; }
};

// None when the payload holds a NUL byte or does not fit the largest symbol.
std::optional<TQrSymbol> EncodeQr(const QByteArray& payload);
