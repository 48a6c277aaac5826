#include "board/readback.h"

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

// The settings read back as one decimal number each.
struct NumberKey {
    const char* key;
    std::optional<int> TBoardReadback::*member;
};
const NumberKey kNumberKeys[] = {
    {"l_pt", &TBoardReadback::ownPort},   {"f_pt", &TBoardReadback::destPort},
    {"mask", &TBoardReadback::mask},      {"conn", &TBoardReadback::autoConnect},
    {"bps", &TBoardReadback::bps},        {"timv", &TBoardReadback::txTiming},
    {"keep", &TBoardReadback::keepAlive}, {"timr", &TBoardReadback::chkTiming}};

}  // namespace

QString ReadbackText(const char* key, const TBoardReadback& b) {
    const QLatin1String k(key);
    if (k == QLatin1String("madr"))
        return b.mac ? Joined(*b.mac, true, QLatin1Char('-')) : QString();
    if (k == QLatin1String("l_ip"))
        return b.ownIp ? Joined(*b.ownIp, false, QLatin1Char('.')) : QString();
    if (k == QLatin1String("f_ip"))
        return b.destIp ? Joined(*b.destIp, false, QLatin1Char('.')) : QString();
    for (const NumberKey& n : kNumberKeys)
        if (k == QLatin1String(n.key))
            return (b.*n.member) ? DecText(*(b.*n.member)) : QString();
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
        // Automatic connection is on for any value but 0: a board may answer 2 for on.
        const bool same = qstrcmp(key, "conn") == 0 && !read.isNull()
                              ? (sent != QLatin1String("0")) == (read != QLatin1String("0"))
                              : read == sent;
        if (!same)
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
