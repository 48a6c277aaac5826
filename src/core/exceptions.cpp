#include "core/exceptions.h"

bool TryStrToInt(const QString& text, int* value) {
    int i = 0;
    const int n = static_cast<int>(text.size());
    while (i < n && text[i] == QLatin1Char(' '))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    if (i == n)
        return false;
    // Accumulate in 64 bits; the bound check keeps the magnitude far from overflow.
    long long magnitude = 0;
    for (; i < n; ++i) {
        const QChar c = text[i];
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
        magnitude = magnitude * 10 + (c.unicode() - '0');
        if (magnitude > 2147483648LL)
            return false;
    }
    const long long v = negative ? -magnitude : magnitude;
    if (v > 2147483647LL || v < -2147483648LL)
        return false;
    *value = static_cast<int>(v);
    return true;
}

int StrToInt(const QString& text) {
    int v = 0;
    if (!TryStrToInt(text, &v))
        throw EConvertError(QStringLiteral("'%1' は整数ではありません").arg(text));
    return v;
}
