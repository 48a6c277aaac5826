#include "cli/readback.h"

#include "board/commandline.h"
#include "board/procedures.h"
#include "core/settings.h"

namespace {

template <size_t N>
QString Joined(const std::array<int, N>& values, bool hex, QChar separator) {
    QStringList parts;
    for (int v : values)
        parts << (hex ? HexText(v) : DecText(v));
    return parts.join(separator);
}

QString Number(const std::optional<int>& v) {
    return v ? DecText(*v) : QString();
}

}  // namespace

QString ReadbackText(const char* key, const TBoardReadback& b) {
    const QLatin1String k(key);
    if (k == QLatin1String("madr"))
        return b.mac ? Joined(*b.mac, true, QLatin1Char('-')) : QString();
    if (k == QLatin1String("l_ip"))
        return b.ownIp ? Joined(*b.ownIp, false, QLatin1Char('.')) : QString();
    if (k == QLatin1String("f_ip"))
        return b.destIp ? Joined(*b.destIp, false, QLatin1Char('.')) : QString();
    if (k == QLatin1String("l_pt"))
        return Number(b.ownPort);
    if (k == QLatin1String("f_pt"))
        return Number(b.destPort);
    if (k == QLatin1String("mask"))
        return Number(b.mask);
    if (k == QLatin1String("conn"))
        return Number(b.autoConnect);
    if (k == QLatin1String("bps"))
        return Number(b.bps);
    if (k == QLatin1String("timv"))
        return Number(b.txTiming);
    if (k == QLatin1String("keep"))
        return Number(b.keepAlive);
    if (k == QLatin1String("timr"))
        return Number(b.chkTiming);
    return {};
}

QStringList ReadbackLines(const TBoardReadback& board) {
    QStringList lines;
    for (const char* key : kReadbackKeys) {
        const QString value = ReadbackText(key, board);
        if (!value.isNull())
            lines << QLatin1String(key) + QLatin1Char('=') + value;
    }
    return lines;
}

QStringList ReadbackDifferences(const TBoardParams& written, const TBoardReadback& board,
                                bool withMac) {
    QStringList out;
    auto compare = [&](const char* key, const QString& sent, const QString& read) {
        if (read != sent)
            out << QStringLiteral("%1 written %2, read %3")
                       .arg(QLatin1String(key), sent,
                            read.isNull() ? QStringLiteral("nothing") : read);
    };
    if (withMac) {
        // Only the last three bytes are the board's own; the first three are fixed.
        const QString sent = QString::fromLatin1(MacText(written)).right(8);
        compare("madr", sent, ReadbackText("madr", board).right(8));
    }
    for (const char* keyword : kSettingOrder) {
        // The value exactly as the setting line sent it.
        QString sent = QString::fromLatin1(BuildCommandLine(keyword, written)).trimmed();
        sent = sent.mid(sent.indexOf(QLatin1Char('=')) + 1);
        QByteArray key(keyword);
        key.chop(1);
        compare(key.constData(), sent, ReadbackText(key.constData(), board));
    }
    return out;
}
