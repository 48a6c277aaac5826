#include "label/qrsymbol.h"

#include <qrencode.h>

#include <memory>

std::optional<TQrSymbol> EncodeQr(const QByteArray& payload) {
    if (payload.contains('\0'))
        return std::nullopt;
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeString(payload.constData(), 0, QR_ECLEVEL_M, QR_MODE_8, 1), &QRcode_free);
    if (!code)
        return std::nullopt;
    TQrSymbol s;
    s.width = code->width;
    s.dark.resize(static_cast<size_t>(s.width) * static_cast<size_t>(s.width));
    // Bit 0 of each module's byte is its colour; the other bits tell libqrencode's own roles.
    for (size_t i = 0; i < s.dark.size(); ++i)
        s.dark[i] = (code->data[i] & 1) != 0;
    return s;
}
