#include "core/text.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <QStringList>
#include <algorithm>

namespace {

const char* const kShiftJis = "Shift_JIS";

}  // namespace

QString DecodeShiftJis(const QByteArray& bytes) {
    // Text of single-byte characters that read the same in Shift_JIS as in ASCII (all but the
    // three controls the system's converter maps elsewhere) needs no converter: a settings file
    // of numbers and addresses then never loads the converter and its tables.
    const bool plain = std::all_of(bytes.begin(), bytes.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return b < 0x80 && b != 0x1A && b != 0x1C && b != 0x7F;
    });
    if (plain)
        return QString::fromLatin1(bytes);
    QStringDecoder dec(kShiftJis);
    return dec.isValid() ? QString(dec.decode(bytes)) : QString::fromLatin1(bytes);
}

QByteArray EncodeShiftJis(const QString& text) {
    QStringEncoder enc(kShiftJis);
    return enc.isValid() ? QByteArray(enc.encode(text)) : text.toLatin1();
}

QString HexDump(const QByteArray& bytes) {
    return bytes.isEmpty() ? QString() : QString::fromLatin1(bytes.toHex(' ').toUpper() + ' ');
}

QString HexDump(const uint8_t* bytes, int count) {
    return HexDump(QByteArray::fromRawData(reinterpret_cast<const char*>(bytes), count));
}

std::optional<uint32_t> ParseIPv4(const QString& text) {
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return std::nullopt;
    uint32_t value = 0;
    for (const QString& p : parts) {
        if (p.isEmpty() || p.size() > 3)
            return std::nullopt;
        uint32_t n = 0;
        for (QChar c : p) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return std::nullopt;
            n = n * 10 + (c.unicode() - '0');
        }
        if (n > 255)
            return std::nullopt;
        value = value << 8 | n;
    }
    return value;
}
