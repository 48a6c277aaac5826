#include "core/text.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <QStringList>

namespace {

const char* const kShiftJis = "Shift_JIS";

}  // namespace

QString DecodeShiftJis(const QByteArray& bytes) {
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
