#include "board/readback.h"

#include "board/procedures.h"

QString ReadbackText(const char* key, const TBoardReadback& board) {
    const TBoardSetting* s = FindSetting(key);
    const std::optional<TReplyValues>& values = board.Of(key);
    return s && values ? ReplyText(*s, *values) : QString();
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

TSentValues SentValues(const TBoardParams& p, bool withMac) {
    TSentValues sent;
    for (const TBoardSetting& s : kBoardSettings) {
        if (withMac || s.form != TSettingForm::MacAddress)
            sent[QLatin1String(s.keyword)] = SettingValueText(s, p);
    }
    return sent;
}

QList<TValueDifference> WrittenDifferences(const TSentValues& written,
                                           const TBoardReadback& board) {
    QList<TValueDifference> out;
    for (const TBoardSetting& s : kBoardSettings) {
        if (const std::optional<QString> reply = board.NotTaken(s))
            out.append({QLatin1String(s.keyword), ReplyFaultText(s, *reply)});
    }
    for (const TBoardSetting& s : kBoardSettings) {
        QString sent = written.value(QLatin1String(s.keyword));
        if (sent.isEmpty() || board.NotTaken(s))
            continue;
        QString read = ReadbackText(s.keyword, board);
        if (s.form == TSettingForm::MacAddress) {
            // The part of a MAC address that is the board's own: its last three bytes.
            sent = sent.right(8);
            read = read.isNull() ? read : read.right(8);
        }
        // Automatic connection is on for any value but 0: a board may answer 2 for on.
        const bool same = s.form == TSettingForm::Switch && !read.isNull()
                              ? (sent != QLatin1String("0")) == (read != QLatin1String("0"))
                              : read == sent;
        if (!same)
            out.append({QLatin1String(s.keyword),
                        QStringLiteral("%1 written %2, read %3")
                            .arg(QLatin1String(s.keyword), sent,
                                 read.isNull() ? QStringLiteral("nothing") : read)});
    }
    return out;
}

QStringList ReadbackDifferences(const TBoardParams& written, const TBoardReadback& board,
                                bool withMac) {
    QStringList out;
    for (const TValueDifference& d : WrittenDifferences(SentValues(written, withMac), board))
        out << d.text;
    return out;
}

QStringList NotTakenLines(const TBoardReadback& board) {
    QStringList lines;
    for (const TBoardSetting& s : kBoardSettings) {
        if (const std::optional<QString> reply = board.NotTaken(s))
            lines << ReplyFaultText(s, *reply);
    }
    return lines;
}

QString ReplyWarningLine(const TBoardSetting& s, const QString& reply) {
    return QStringLiteral(
               "警告: %1の応答 '%2' は正しい形ではありません。設定する前に確かめてください")
        .arg(QString::fromUtf8(s.label), reply);
}
